// The recording list and the wave file it becomes: exact header bytes,
// readability by other tools, rewrites, and writes that fail part-way.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <utility>

#include "SoundTestSupport.h"
#include "sound/RecordingList.h"
#include "sound/WaveFileWriter.h"

using namespace soundtest;

namespace {

// Fills the list with blocks whose samples say where they came from.
void AddBlocks(RecordingList& list, int count, int firstValue = 0)
{
    for (int b = 0; b < count; ++b) {
        auto block = std::make_unique<VoiceBlock>();
        for (int i = 0; i < kVoiceBlockSamples; ++i)
            block->samples[i] = static_cast<std::int16_t>((firstValue + b * 1000 + i) % 32000 - 16000);
        list.Add(std::move(block));
    }
}

void ExpectHeader(const std::vector<unsigned char>& bytes, std::uint32_t dataBytes)
{
    ASSERT_GE(bytes.size(), 46u);
    EXPECT_EQ(0, std::memcmp(bytes.data(), "RIFF", 4));
    EXPECT_EQ(38 + dataBytes, Le32(bytes, 4));
    EXPECT_EQ(0, std::memcmp(bytes.data() + 8, "WAVEfmt ", 8));
    EXPECT_EQ(18u, Le32(bytes, 16));
    EXPECT_EQ(1, Le16(bytes, 20));       // PCM
    EXPECT_EQ(1, Le16(bytes, 22));       // mono
    EXPECT_EQ(160000u, Le32(bytes, 24));
    EXPECT_EQ(320000u, Le32(bytes, 28));
    EXPECT_EQ(2, Le16(bytes, 32));
    EXPECT_EQ(16, Le16(bytes, 34));
    EXPECT_EQ(0, Le16(bytes, 36));       // cbSize
    EXPECT_EQ(0, std::memcmp(bytes.data() + 38, "data", 4));
    EXPECT_EQ(dataBytes, Le32(bytes, 42));
}

// Writes through to a real file but accepts only `capacity` bytes in all,
// like a disk that fills up during the write.
class FullDiskSink : public FileSink {
public:
    explicit FullDiskSink(std::size_t capacity) : capacity_(capacity) {}
    bool Open(const std::string& path) override { return inner_.Open(path); }
    std::size_t Write(const void* data, std::size_t size) override
    {
        std::size_t n = std::min(size, capacity_ - used_);
        used_ += inner_.Write(data, n);
        return n;
    }
    bool Flush() override { return inner_.Flush(); }
    bool Close() override
    {
        ++closes;
        return inner_.Close();
    }
    int closes = 0;

private:
    StdioFileSink inner_;
    std::size_t capacity_;
    std::size_t used_ = 0;
};

class RecordingWriter : public ::testing::Test {
protected:
    void TearDown() override { list.FreeAll(); }
    ScratchDir dir{"recording-writer"};
    RecordingList list;
};

}  // namespace

TEST_F(RecordingWriter, EmptyListGivesA46ByteFile)
{
    ASSERT_TRUE(list.WriteWave(dir.File("empty.wav")));
    auto bytes = ReadBytes(dir.File("empty.wav"));
    EXPECT_EQ(46u, bytes.size());
    ExpectHeader(bytes, 0);
}

TEST_F(RecordingWriter, ThreeBlocksFollowTheHeaderInListOrder)
{
    AddBlocks(list, 3);
    ASSERT_TRUE(list.WriteWave(dir.File("three.wav")));
    auto bytes = ReadBytes(dir.File("three.wav"));
    ASSERT_EQ(46u + 48000u, bytes.size());
    ExpectHeader(bytes, 48000);
    EXPECT_EQ(48038u, Le32(bytes, 4));
    for (int b = 0; b < 3; ++b)
        EXPECT_EQ(0, std::memcmp(bytes.data() + 46 + b * 16000, list[b]->samples, 16000)) << "block " << b;
}

TEST_F(RecordingWriter, SecondWriteReplacesTheFileCompletely)
{
    AddBlocks(list, 3);
    ASSERT_TRUE(list.WriteWave(dir.File("memory.wav")));
    list.FreeAll();
    AddBlocks(list, 1, 777);
    ASSERT_TRUE(list.WriteWave(dir.File("memory.wav")));
    auto bytes = ReadBytes(dir.File("memory.wav"));
    ASSERT_EQ(46u + 16000u, bytes.size());
    ExpectHeader(bytes, 16000);
    EXPECT_EQ(0, std::memcmp(bytes.data() + 46, list[0]->samples, 16000));
}

TEST_F(RecordingWriter, PythonWaveModuleAndSoxReadTheFile)
{
    AddBlocks(list, 2);
    std::string path = dir.File("tools.wav");
    ASSERT_TRUE(list.WriteWave(path));

    std::string out;
    ASSERT_EQ(0, RunCommand("python3 -c \"import wave,sys; w=wave.open(sys.argv[1]); "
                     "f=w.readframes(w.getnframes()); "
                     "print(w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getnframes(), "
                     "int.from_bytes(f[2:4],'little',signed=True))\" " + path, &out));
    EXPECT_EQ("1 2 160000 16000 " + std::to_string(list[0]->samples[1]) + "\n", out);

    out.clear();
    ASSERT_EQ(0, RunCommand("sox --i -r " + path + " && sox --i -c " + path + " && sox --i -s " + path +
                     " && sox --i -b " + path, &out));
    EXPECT_EQ("160000\n1\n16000\n16\n", out);
}

TEST_F(RecordingWriter, ShortWriteLeavesThePartialFileAndReportsFailure)
{
    AddBlocks(list, 3);
    FullDiskSink sink(46 + 16000 + 100);
    std::string path = dir.File("partial.wav");
    EXPECT_FALSE(list.WriteWave(path, sink));
    EXPECT_EQ(1, sink.closes);
    ASSERT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(46u + 16000u + 100u, std::filesystem::file_size(path));

    FullDiskSink headerOnly(20);
    EXPECT_FALSE(list.WriteWave(path, headerOnly));
    EXPECT_EQ(20u, std::filesystem::file_size(path));
}

// The voice is written only into a file made for it: a device under the
// name is neither written through nor removed (whatever rights the test has).
TEST_F(RecordingWriter, ADeviceUnderTheNameIsNeitherWrittenNorReplaced)
{
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    AddBlocks(list, 1);
    EXPECT_FALSE(list.WriteWave("/dev/full"));
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/full"));
}

TEST_F(RecordingWriter, UnwritablePathsFail)
{
    EXPECT_FALSE(list.WriteWave(dir.File("no-such-folder/memory.wav")));
    // Refused whatever rights the test runs with: a file where the folder
    // should be, and a folder where the file should be.
    std::ofstream(dir.File("plain-file")) << "x";
    EXPECT_FALSE(list.WriteWave(dir.File("plain-file/memory.wav")));
    std::filesystem::create_directory(dir.Path() / "memory.wav");
    EXPECT_FALSE(list.WriteWave(dir.File("memory.wav")));
}

TEST_F(RecordingWriter, FreeAllEmptiesTheListAndChangesItsGeneration)
{
    list.FreeAll();  // empty: nothing happens
    EXPECT_EQ(0, list.Count());
    auto before = list.Generation();
    AddBlocks(list, 2);
    EXPECT_NE(before, list.Generation());
    auto filled = list.Generation();
    list.FreeAll();
    EXPECT_EQ(0, list.Count());
    EXPECT_NE(filled, list.Generation());
}

TEST_F(RecordingWriter, AppendBlockKeepsEachMicrophoneBlockOnce)
{
    std::int16_t block[16000] = {};
    block[0] = 11;
    block[7999] = 22;
    block[8000] = 33;  // beyond a block: never copied
    EXPECT_TRUE(list.AppendBlock(block, 1));
    EXPECT_FALSE(list.AppendBlock(block, 1));  // a second crystal offers the same block
    block[0] = 44;
    EXPECT_TRUE(list.AppendBlock(block, 2));
    ASSERT_EQ(2, list.Count());
    EXPECT_EQ(11, list[0]->samples[0]);
    EXPECT_EQ(22, list[0]->samples[7999]);
    EXPECT_EQ(44, list[1]->samples[0]);
}
