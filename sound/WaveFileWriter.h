// Writes the recording list as a RIFF wave file: a 46-byte header (RIFF,
// an 18-byte "fmt " chunk with the capture format including cbSize, "data")
// followed by every block's samples in list order; 160 000 Hz mono 16-bit.
//
// The bytes go through a FileSink so that a full disk or a refused folder can
// be played out in tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "common/NonCopyable.h"
#include "platform/system/mmsystem.h"

class RecordingList;
struct VoiceBlock;

// What the writer writes through: create anew (whatever had the name is
// replaced, never written through), write, flush (to the disk, not only out
// of the process), close.
class FileSink {
public:
    virtual ~FileSink() = default;
    virtual bool Open(const std::string& path) = 0;
    // Returns the number of bytes written; fewer than size means the write failed.
    virtual std::size_t Write(const void* data, std::size_t size) = 0;
    virtual bool Flush() = 0;
    virtual bool Close() = 0;
    // Why the last step failed, for the log.
    virtual std::string LastError() const { return "write failed"; }
};

// The C library's files, made with mode 0600.
class StdioFileSink : public FileSink, NonCopyable {
public:
    StdioFileSink() = default;
    ~StdioFileSink() override;

    bool Open(const std::string& path) override;
    std::size_t Write(const void* data, std::size_t size) override;
    bool Flush() override;
    bool Close() override;
    std::string LastError() const override { return error_; }

private:
    void Fail();
    std::FILE* file_ = nullptr;
    std::string error_;
};

constexpr std::size_t kWaveHeaderBytes = 46;

// The capture format: PCM, mono, 160 000 Hz, 16-bit.
WAVEFORMATEX VoiceFormat();

class WaveFileWriter {
public:
    explicit WaveFileWriter(FileSink& sink) : sink_(sink) {}
    bool WriteWave(const RecordingList& list, const std::string& path);
    // The same for blocks held elsewhere (the voice store's snapshot).
    bool WriteBlocks(const VoiceBlock* const* blocks, std::size_t count, const std::string& path);

    // The 46 header bytes for a data chunk of dataBytes.
    static void BuildHeader(std::uint32_t dataBytes, unsigned char (&header)[kWaveHeaderBytes]);

private:
    FileSink& sink_;
};
