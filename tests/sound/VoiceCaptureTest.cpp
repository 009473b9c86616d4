// The microphone: buffer alternation and hand-over, the one-second cap, the
// voice file as input (converted, paced, silent after its end), and the real
// SDL capture path fed from a file by SDL's "disk" driver.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <thread>

#include <poll.h>

#include "SoundTestSupport.h"
#include "sound/VoiceCapture.h"

using namespace soundtest;

namespace {

// Hands the samples it is given to the capture at the next Drain.
class FakeStream : public platform::CaptureStream {
public:
    explicit FakeStream(std::vector<std::int16_t>* feed) : feed_(feed) {}
    void Drain(std::vector<std::int16_t>& samples) override
    {
        samples.insert(samples.end(), feed_->begin(), feed_->end());
        feed_->clear();
    }

private:
    std::vector<std::int16_t>* feed_;
};

// Samples whose value names the block they belong to.
std::vector<std::int16_t> NumberedBlocks(int first, int count)
{
    std::vector<std::int16_t> samples;
    for (int b = first; b < first + count; ++b) samples.insert(samples.end(), 8000, static_cast<std::int16_t>(b * 10));
    return samples;
}

int CountZeroCrossings(const std::int16_t* samples, int count)
{
    int crossings = 0;
    for (int i = 1; i < count; ++i)
        if ((samples[i - 1] < 0) != (samples[i] < 0)) ++crossings;
    return crossings;
}

int PeakOf(const std::int16_t* samples, int count)
{
    int peak = 0;
    for (int i = 0; i < count; ++i) peak = std::max(peak, std::abs(static_cast<int>(samples[i])));
    return peak;
}

class Capture : public ::testing::Test {
protected:
    void SetUp() override { window.capture = &capture; }
    void OpenWithFeed()
    {
        capture.UseStream(std::make_unique<FakeStream>(&feed));
        capture.Open(&window.record);
        ASSERT_TRUE(capture.IsOpen());
    }
    CaptureWindow window;
    VoiceCapture capture;
    std::vector<std::int16_t> feed;
};

}  // namespace

TEST_F(Capture, ConstructorSetsUpFormatBuffersAndHeaders)
{
    EXPECT_EQ(160000u, capture.Format().nSamplesPerSec);
    EXPECT_EQ(320000u, capture.Format().nAvgBytesPerSec);
    EXPECT_EQ(1, capture.Format().nChannels);
    EXPECT_EQ(16, capture.Format().wBitsPerSample);
    for (int k = 0; k < 2; ++k) {
        EXPECT_EQ(reinterpret_cast<const char*>(capture.Buffer(k)), capture.Header(k).lpData);
        EXPECT_EQ(16000u, capture.Header(k).dwBufferLength);
        EXPECT_EQ(0u, capture.Header(k).dwFlags);
        EXPECT_EQ(1u, capture.Header(k).dwLoops);
    }
    EXPECT_FALSE(capture.IsOpen());
}

TEST_F(Capture, BlocksAlternateBetweenBufferZeroAndOne)
{
    OpenWithFeed();
    feed = NumberedBlocks(0, 5);
    for (int pass = 0; pass < 10 && window.bufferOrder.size() < 5; ++pass) {
        capture.Poll();
        window.Pump();
    }
    EXPECT_EQ((std::vector<int>{0, 1, 0, 1, 0}), window.bufferOrder);
    EXPECT_EQ(NumberedBlocks(0, 5), window.copied);
    for (DWORD bytes : window.bytesRecorded) EXPECT_EQ(16000u, bytes);
    // Both buffers are back in the queue, waiting for more sound.
    EXPECT_TRUE(capture.Header(0).dwFlags & WHDR_INQUEUE);
    EXPECT_TRUE(capture.Header(1).dwFlags & WHDR_INQUEUE);
}

TEST_F(Capture, ABlockIsNotOverwrittenBeforeItsMessageIsHandled)
{
    OpenWithFeed();
    feed = NumberedBlocks(0, 6);
    capture.Poll();  // fills buffer 0 and posts its message
    capture.Poll();  // nothing has been handed back: nothing more is delivered
    capture.Poll();
    EXPECT_EQ(1u, window.queue.Size());
    EXPECT_EQ(1, window.Pump());
    EXPECT_EQ(NumberedBlocks(0, 1), window.copied);

    // A window procedure that never hands the buffers back stalls the capture
    // instead of losing blocks under it.
    window.handBack = false;
    capture.Poll();
    window.Pump();
    capture.Poll();
    window.Pump();
    EXPECT_EQ(NumberedBlocks(0, 2), window.copied);
    EXPECT_EQ(4u * 8000u, capture.PendingSamples());
}

namespace {

bool Readable(const std::vector<int>& fds)
{
    if (fds.empty()) return false;
    pollfd p{fds[0], POLLIN, 0};
    return poll(&p, 1, 0) == 1;
}

}  // namespace

TEST_F(Capture, TheIdleLoopIsWokenWhileABlockWaitsForAFreeBuffer)
{
    OpenWithFeed();
    std::vector<int> fds;
    capture.CollectWaitDescriptors(fds);
    ASSERT_EQ(1u, fds.size());
    EXPECT_FALSE(Readable(fds));  // nothing recorded yet: sleep

    feed = NumberedBlocks(0, 3);
    capture.Poll();  // one block out, two wait
    fds.clear();
    capture.CollectWaitDescriptors(fds);
    EXPECT_FALSE(Readable(fds));  // the delivered block is not handed back yet
    window.Pump();
    fds.clear();
    capture.CollectWaitDescriptors(fds);
    EXPECT_TRUE(Readable(fds));  // handed back: the next block can go at once

    capture.Poll();
    window.Pump();
    capture.Poll();
    window.Pump();
    fds.clear();
    capture.CollectWaitDescriptors(fds);
    EXPECT_FALSE(Readable(fds));  // all delivered
    EXPECT_EQ(NumberedBlocks(0, 3), window.copied);
}

TEST_F(Capture, NoMoreThanOneSecondWaitsAndTheOldestGoesFirst)
{
    OpenWithFeed();
    feed = NumberedBlocks(0, 60);  // three seconds arrive at once
    capture.Poll();
    window.Pump();
    // Only the newest second (blocks 40..59) was kept; its first block went out.
    EXPECT_EQ(NumberedBlocks(40, 1), window.copied);
    EXPECT_EQ(160000u - 8000u, capture.PendingSamples());
}

TEST_F(Capture, VoiceFileAt44100HzStereoBecomes16000ByteBlocksAt160000HzMono)
{
    ScratchDir dir("capture-voice");
    std::string path = dir.File("voice.wav");
    // Half a second of a 1 kHz tone on the left channel, silence on the right.
    std::vector<std::int16_t> stereo;
    for (int i = 0; i < 22050; ++i) {
        stereo.push_back(static_cast<std::int16_t>(std::lround(20000.0 * std::sin(2 * M_PI * 1000.0 * i / 44100.0))));
        stereo.push_back(0);
    }
    WritePcmWave(path, 44100, 2, stereo);

    capture.Configure(VoiceCaptureSettings{path, "", true, {}});
    capture.Open(&window.record);
    ASSERT_TRUE(capture.IsOpen());
    ASSERT_TRUE(capture.OpenFailure().empty());

    // --fast: exactly one block per pass.
    for (int pass = 1; pass <= 12; ++pass) {
        capture.Poll();
        ASSERT_EQ(1, window.Pump()) << "pass " << pass;
    }
    ASSERT_EQ(12u * 8000u, window.copied.size());
    for (DWORD bytes : window.bytesRecorded) EXPECT_EQ(16000u, bytes);
    // 50 ms of 1 kHz is 50 periods: 100 zero crossings. Mono is the mean of
    // both channels, so the peak is about half the left channel's.
    const std::int16_t* first = window.copied.data();
    EXPECT_NEAR(100, CountZeroCrossings(first + 10, 7980), 2);
    EXPECT_NEAR(10000, PeakOf(first, 8000), 600);
    // 0.5 s is exactly ten blocks at 160 000 Hz; after the end the input is silent.
    EXPECT_GT(PeakOf(first + 9 * 8000, 7000), 9000);
    EXPECT_EQ(0, PeakOf(first + 10 * 8000, 2 * 8000));
}

TEST_F(Capture, VoiceFileMadeBySoxIsRead)
{
    ScratchDir dir("capture-sox");
    std::string path = dir.File("tone.wav");
    ASSERT_EQ(0, RunCommand("sox -n -r 44100 -c 2 -b 16 " + path + " synth 0.2 sine 500 gain -6 2>/dev/null"));
    capture.Configure(VoiceCaptureSettings{path, "", true, {}});
    capture.Open(&window.record);
    ASSERT_TRUE(capture.IsOpen());
    for (int pass = 0; pass < 4; ++pass) {
        capture.Poll();
        window.Pump();
    }
    ASSERT_EQ(4u * 8000u, window.copied.size());
    EXPECT_NEAR(50, CountZeroCrossings(window.copied.data() + 10, 7980), 2);
    EXPECT_GT(PeakOf(window.copied.data(), 8000), 10000);
}

TEST_F(Capture, VoiceFileInRealTimeGivesOneBlockPer50MillisecondsAndCatchesUpAtMostOneSecond)
{
    ScratchDir dir("capture-paced");
    std::string path = dir.File("numbered.wav");
    WritePcmWave(path, 160000, 1, NumberedBlocks(0, 100));
    std::uint32_t now = 0xFFFFFF00u;  // the millisecond counter wraps during the test
    capture.Configure(VoiceCaptureSettings{path, "", false, [&now] { return now; }});
    capture.Open(&window.record);

    auto pass = [&] {
        capture.Poll();
        return window.Pump();
    };
    now += 49;
    EXPECT_EQ(0, pass());
    now += 1;
    EXPECT_EQ(1, pass());
    now += 70;  // 120 ms: the second block is due
    EXPECT_EQ(1, pass());
    EXPECT_EQ(0, pass());

    // The loop stalls for two seconds: 40 blocks are due, but only the last
    // second's worth (20 blocks) is still delivered, and in order.
    now += 1880;
    int delivered = 0;
    for (int i = 0; i < 30; ++i) delivered += pass();
    EXPECT_EQ(20, delivered);
    ASSERT_EQ(22u * 8000u, window.copied.size());
    EXPECT_EQ(10, window.copied[1 * 8000]);
    EXPECT_EQ(200, window.copied[2 * 8000]);   // block 20: blocks 2..19 were dropped
    EXPECT_EQ(390, window.copied[21 * 8000]);  // block 39
}

TEST_F(Capture, UnreadableVoiceFileLeavesTheCaptureSilentAndSaysWhy)
{
    capture.Configure(VoiceCaptureSettings{"/nonexistent/voice.wav", "", true, {}});
    testing::internal::CaptureStderr();
    capture.Open(&window.record);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(capture.IsOpen());
    EXPECT_NE(std::string::npos, capture.OpenFailure().find("/nonexistent/voice.wav"));
    // The reason is the caller's to print, once (it fails the start).
    EXPECT_EQ("", err);
    capture.Poll();
    EXPECT_EQ(0, window.Pump());
}

TEST_F(Capture, CloseFreesBothBuffersOpenOrNot)
{
    capture.Close();
    EXPECT_EQ(nullptr, capture.Buffer(0));
    EXPECT_EQ(nullptr, capture.Buffer(1));
    capture.Close();
    capture.Open(&window.record);  // nothing left to record into
    EXPECT_FALSE(capture.IsOpen());

    VoiceCapture opened;
    std::vector<std::int16_t> silence;
    opened.UseStream(std::make_unique<FakeStream>(&silence));
    opened.Open(&window.record);
    EXPECT_TRUE(opened.IsOpen());
    opened.Close();
    EXPECT_FALSE(opened.IsOpen());
    EXPECT_EQ(nullptr, opened.Buffer(0));
    EXPECT_EQ(nullptr, opened.Buffer(1));
}

// The real platform path: SDL's disk driver plays the microphone from a raw
// file in the format asked for (160 000 Hz mono 16-bit).
class DiskDriverCapture : public Capture {
protected:
    void SetUp() override
    {
        Capture::SetUp();
        rawPath = dir.File("mic.raw");
        expected = NumberedBlocks(1, 8);
        for (std::size_t i = 0; i < expected.size(); ++i) expected[i] = static_cast<std::int16_t>(expected[i] + i % 7);
        std::ofstream(rawPath, std::ios::binary)
            .write(reinterpret_cast<const char*>(expected.data()),
                   static_cast<std::streamsize>(expected.size() * sizeof(std::int16_t)));
    }
    // Polls like the loop until `blocks` blocks have arrived or five seconds pass.
    void PollFor(std::size_t blocks)
    {
        for (int i = 0; i < 1000 && window.bufferOrder.size() < blocks; ++i) {
            capture.Poll();
            window.Pump();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    ScratchDir dir{"capture-disk"};
    std::string rawPath;
    std::vector<std::int16_t> expected;
    ScopedEnv driver{"SDL_AUDIODRIVER", "disk"};
};

TEST_F(DiskDriverCapture, DefaultDeviceDeliversTheFileBlockByBlock)
{
    ScopedEnv input("SDL_DISKAUDIOFILEIN", rawPath);
    testing::internal::CaptureStderr();
    capture.Open(&window.record);
    std::string err = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(capture.IsOpen()) << err;
    EXPECT_NE(std::string::npos, err.find("solvane: capture: default device opened at 160000 Hz")) << err;
    PollFor(10);
    ASSERT_GE(window.bufferOrder.size(), 10u);
    EXPECT_EQ((std::vector<int>{0, 1, 0, 1, 0, 1, 0, 1, 0, 1}),
              std::vector<int>(window.bufferOrder.begin(), window.bufferOrder.begin() + 10));
    ASSERT_GE(window.copied.size(), expected.size() + 16000);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), window.copied.begin()));
    // After the file, the driver records silence.
    EXPECT_EQ(0, PeakOf(window.copied.data() + expected.size(), 16000));
    capture.Close();
}

TEST_F(DiskDriverCapture, InputDeviceNameChoosesTheDevice)
{
    // The disk driver takes any device name as the file to read.
    capture.Configure(VoiceCaptureSettings{"", rawPath, false, {}});
    capture.Open(&window.record);
    ASSERT_TRUE(capture.IsOpen());
    PollFor(8);
    ASSERT_GE(window.copied.size(), expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), window.copied.begin()));
}

TEST(CaptureWithoutDevice, OneNoticeAndTheInstallationRunsOn)
{
    ScopedEnv driver("SDL_AUDIODRIVER", "no-such-driver");
    CaptureWindow window;
    VoiceCapture capture;
    window.capture = &capture;
    testing::internal::CaptureStderr();
    capture.Open(&window.record);
    capture.Poll();
    capture.Close();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(capture.IsOpen());
    EXPECT_EQ(0, window.Pump());
    EXPECT_EQ(0u, err.find("solvane: capture: ")) << err;
    EXPECT_EQ(1, std::count(err.begin(), err.end(), '\n')) << "exactly one line: " << err;
}
