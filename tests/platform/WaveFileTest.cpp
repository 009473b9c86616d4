// The voice file reader: hostile headers are refused from the header alone,
// quickly and with the reason, and accepted files convert to the full length.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/files/WaveFile.h"
#include "support/LittleEndian.h"

namespace {

void PutTag(std::vector<std::uint8_t>& out, const char* tag)
{
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(tag[i]));
}

struct WaveSpec {
    unsigned format = 1;
    unsigned channels = 1;
    std::uint32_t rate = 8000;
    unsigned bits = 16;
    std::size_t dataBytes = 400;   // bytes of samples actually in the file
    std::int64_t claimedData = -1;  // the data chunk's size field (-1: the real size)
};

std::vector<std::uint8_t> MakeWave(const WaveSpec& spec)
{
    std::vector<std::uint8_t> out;
    PutTag(out, "RIFF");
    Put32(out, static_cast<std::uint32_t>(36 + spec.dataBytes));
    PutTag(out, "WAVE");
    PutTag(out, "fmt ");
    Put32(out, 16);
    Put16(out, spec.format);
    Put16(out, spec.channels);
    Put32(out, spec.rate);
    const unsigned blockAlign = spec.channels * spec.bits / 8;
    Put32(out, spec.rate * blockAlign);
    Put16(out, blockAlign);
    Put16(out, spec.bits);
    PutTag(out, "data");
    Put32(out, spec.claimedData >= 0 ? static_cast<std::uint32_t>(spec.claimedData)
                                     : static_cast<std::uint32_t>(spec.dataBytes));
    for (std::size_t i = 0; i < spec.dataBytes; ++i)
        out.push_back(static_cast<std::uint8_t>(static_cast<int>(40 * std::sin(static_cast<double>(i) / 3))));
    return out;
}

// Once these crashed the sample-rate conversion (1 Hz), took half a gigabyte
// for a 244-byte file, or stalled the start for most of a minute (2 and
// 10 Hz); all are now refused from the header in no time.
TEST(WaveFile, RefusesHostileHeadersWithTheReason)
{
    struct Case {
        const char* name;
        WaveSpec spec;
        const char* reason;
    };
    const Case cases[] = {
        {"1 Hz", {1, 1, 1, 16, 200}, "a rate of 1 Hz"},
        {"2 Hz", {1, 1, 2, 16, 200}, "a rate of 2 Hz"},
        {"10 Hz", {1, 1, 10, 16, 200}, "a rate of 10 Hz"},
        {"just below 8 kHz", {1, 1, 7999, 16, 200}, "a rate of 7999 Hz"},
        {"above 384 kHz", {1, 1, 384001, 16, 200}, "a rate of 384001 Hz"},
        {"4 GHz", {1, 1, 4000000000u, 16, 200}, "a rate of 4000000000 Hz"},
        {"9 channels", {1, 9, 8000, 16, 360}, "9 channels"},
        {"no channels", {1, 0, 8000, 16, 200}, "0 channels"},
        {"data past the end", {1, 1, 8000, 16, 200, 1 << 30}, "claims 1073741824 bytes"},
        {"no samples", {1, 1, 8000, 16, 0}, "no samples"},
        {"12-bit PCM", {1, 1, 8000, 12, 200}, "12-bit PCM"},
        {"MP3 inside", {0x55, 1, 8000, 16, 200}, "sample format 0x0055"},
        {"too long", {1, 1, 8000, 8, 8000 * (platform::kMaxWaveSeconds + 1)}, "a sound of"},
    };
    for (const Case& c : cases) {
        const std::vector<std::uint8_t> bytes = MakeWave(c.spec);
        platform::MonoWave wave;
        std::string error;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(platform::DecodeMonoWave(bytes.data(), bytes.size(), 160000, wave, error)) << c.name;
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.name << ": " << error;
        EXPECT_TRUE(wave.samples.empty()) << c.name;
        // Generous: a refusal reads the header only (the stall was 31 s).
        EXPECT_LT(took, std::chrono::seconds(2)) << c.name;
    }
}

TEST(WaveFile, AcceptedFilesConvertToTheirWholeLength)
{
    struct Case {
        const char* name;
        WaveSpec spec;
    };
    const Case cases[] = {
        {"8 kHz mono 16-bit", {1, 1, 8000, 16, 16000}},
        {"384 kHz mono 16-bit", {1, 1, 384000, 16, 76800}},
        {"44.1 kHz stereo 8-bit", {1, 2, 44100, 8, 8820}},
        {"48 kHz 8 channels 16-bit", {1, 8, 48000, 16, 48000 * 16 / 10}},
        {"16 kHz float", {3, 1, 16000, 32, 6400}},
    };
    for (const Case& c : cases) {
        const std::vector<std::uint8_t> bytes = MakeWave(c.spec);
        const std::size_t frames = c.spec.dataBytes / (c.spec.channels * c.spec.bits / 8);
        const std::size_t expected = (frames * 160000 + c.spec.rate - 1) / c.spec.rate;
        platform::MonoWave wave;
        std::string error;
        ASSERT_TRUE(platform::DecodeMonoWave(bytes.data(), bytes.size(), 160000, wave, error)) << c.name << ": " << error;
        EXPECT_EQ(wave.rate, 160000) << c.name;
        // Nothing silently cut off: the converted length of every input frame.
        EXPECT_NEAR(static_cast<double>(wave.samples.size()), static_cast<double>(expected), 2.0) << c.name;

        platform::MonoWave own;
        ASSERT_TRUE(platform::DecodeMonoWave(bytes.data(), bytes.size(), 0, own, error)) << c.name << ": " << error;
        EXPECT_EQ(own.rate, static_cast<int>(c.spec.rate)) << c.name;
        EXPECT_EQ(own.samples.size(), frames) << c.name;
    }
}

TEST(WaveFile, FileErrorsNameTheFile)
{
    platform::MonoWave wave;
    std::string error;
    EXPECT_FALSE(platform::LoadMonoWave("/nonexistent/voice.wav", 160000, wave, error));
    EXPECT_NE(error.find("\"/nonexistent/voice.wav\""), std::string::npos) << error;

    const std::string path = testing::TempDir() + "wave-1hz.wav";
    const std::vector<std::uint8_t> bytes = MakeWave({1, 1, 1, 16, 200});
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    EXPECT_FALSE(platform::LoadMonoWave(path, 160000, wave, error));
    EXPECT_NE(error.find("\"" + path + "\": refused: a rate of 1 Hz"), std::string::npos) << error;
}

TEST(WaveFile, ResamplingRefusesRatesOutsideTheAcceptedRange)
{
    std::vector<std::int16_t> input(100, 1000), output;
    std::string error;
    EXPECT_FALSE(platform::ResampleMono(input, 1, 48000, output, error));
    EXPECT_FALSE(platform::ResampleMono(input, 48000, 0, output, error));
    EXPECT_TRUE(platform::ResampleMono(input, 160000, 48000, output, error)) << error;
    EXPECT_EQ(output.size(), 30u);
}

}  // namespace
