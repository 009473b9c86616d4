// The wave file writer: the header is built byte by byte in little-endian
// order, so the file does not depend on how a compiler lays out structs.
#include "sound/WaveFileWriter.h"

#include <bit>
#include <cerrno>
#include <cstring>
#include <limits>
#include <vector>

#include <unistd.h>

#include "common/PrivateFiles.h"
#include "sound/RecordingList.h"

static_assert(std::endian::native == std::endian::little, "samples are written as they lie in memory");

StdioFileSink::~StdioFileSink() { Close(); }

void StdioFileSink::Fail() { error_ = errno != 0 ? std::strerror(errno) : "write failed"; }

bool StdioFileSink::Open(const std::string& path)
{
    Close();
    errno = 0;
    // A new file of mode 0600 (the visitor's voice is nobody else's), never
    // written through a link or a file someone else left under this name.
    const int fd = CreatePrivateFile(path, error_);
    if (fd < 0) return false;
    file_ = ::fdopen(fd, "wb");
    if (file_ == nullptr) {
        Fail();
        ::close(fd);
        return false;
    }
    return true;
}

std::size_t StdioFileSink::Write(const void* data, std::size_t size)
{
    if (file_ == nullptr) return 0;
    errno = 0;
    std::size_t written = std::fwrite(data, 1, size, file_);
    if (written != size) Fail();
    return written;
}

bool StdioFileSink::Flush()
{
    if (file_ == nullptr) return false;
    errno = 0;
    // NOTE: fsync as well: a file renamed over the previous voice must be on
    // the disk first, or a power cut could leave neither of them whole.
    if (std::fflush(file_) != 0 || fsync(fileno(file_)) != 0) {
        Fail();
        return false;
    }
    return true;
}

bool StdioFileSink::Close()
{
    if (file_ == nullptr) return true;
    errno = 0;
    bool ok = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!ok) Fail();
    return ok;
}

WAVEFORMATEX VoiceFormat()
{
    WAVEFORMATEX format;
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 1;
    format.nSamplesPerSec = 160000;
    format.nBlockAlign = 2;
    format.nAvgBytesPerSec = 320000;
    format.wBitsPerSample = 16;
    format.cbSize = 0;
    return format;
}

namespace {

void Put32(unsigned char* at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

void Put16(unsigned char* at, std::uint16_t value)
{
    at[0] = static_cast<unsigned char>(value);
    at[1] = static_cast<unsigned char>(value >> 8);
}

}  // namespace

void WaveFileWriter::BuildHeader(std::uint32_t dataBytes, unsigned char (&header)[kWaveHeaderBytes])
{
    const WAVEFORMATEX format = VoiceFormat();
    std::memcpy(header + 0, "RIFF", 4);
    Put32(header + 4, 38 + dataBytes);
    std::memcpy(header + 8, "WAVE", 4);
    std::memcpy(header + 12, "fmt ", 4);
    Put32(header + 16, 18);
    Put16(header + 20, format.wFormatTag);
    Put16(header + 22, format.nChannels);
    Put32(header + 24, format.nSamplesPerSec);
    Put32(header + 28, format.nAvgBytesPerSec);
    Put16(header + 32, format.nBlockAlign);
    Put16(header + 34, format.wBitsPerSample);
    Put16(header + 36, format.cbSize);
    std::memcpy(header + 38, "data", 4);
    Put32(header + 42, dataBytes);
}

bool WaveFileWriter::WriteWave(const RecordingList& list, const std::string& path)
{
    std::vector<const VoiceBlock*> blocks(static_cast<std::size_t>(list.Count()));
    for (int i = 0; i < list.Count(); ++i) blocks[static_cast<std::size_t>(i)] = list[i];
    return WriteBlocks(blocks.data(), blocks.size(), path);
}

bool WaveFileWriter::WriteBlocks(const VoiceBlock* const* blocks, std::size_t count, const std::string& path)
{
    const std::uint64_t dataBytes = static_cast<std::uint64_t>(count) * sizeof(VoiceBlock);
    // The RIFF length field is 32 bits wide.
    if (dataBytes > std::numeric_limits<std::uint32_t>::max() - 38) return false;
    if (!sink_.Open(path)) return false;

    unsigned char header[kWaveHeaderBytes];
    BuildHeader(static_cast<std::uint32_t>(dataBytes), header);
    bool ok = sink_.Write(header, sizeof header) == sizeof header;
    for (std::size_t i = 0; ok && i < count; ++i)
        ok = sink_.Write(blocks[i]->samples, sizeof(VoiceBlock)) == sizeof(VoiceBlock);

    // NOTE: a full disk often shows only when the buffered bytes are flushed
    // or the file is closed, so both count. The partial file stays: the
    // caller writes to a temporary name and removes it.
    bool flushed = sink_.Flush();
    bool closed = sink_.Close();
    return ok && flushed && closed;
}
