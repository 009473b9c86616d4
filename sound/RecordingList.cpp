// The recording list: the blocks, their freeing, and the generation number.
#include "sound/RecordingList.h"

#include <cstring>
#include <utility>

#include "sound/WaveFileWriter.h"

void RecordingList::Add(std::unique_ptr<VoiceBlock> block)
{
    blocks_.Add(std::move(block));
    ++generation_;
}

void RecordingList::RemoveAt(int index)
{
    if (index < 0 || index >= Count()) return;
    blocks_.RemoveAt(index);
    ++generation_;
}

void RecordingList::Clear()
{
    if (Count() == 0) return;
    blocks_.Clear();
    ++generation_;
}

bool RecordingList::WriteWave(const std::string& path) const
{
    StdioFileSink sink;
    return WriteWave(path, sink);
}

bool RecordingList::WriteWave(const std::string& path, FileSink& sink) const
{
    WaveFileWriter writer(sink);
    return writer.WriteWave(*this, path);
}

bool RecordingList::AppendBlock(const std::int16_t* samples, std::uint32_t serial)
{
    if (samples == nullptr) return false;
    if (hasLastSerial_ && serial == lastSerial_) return false;
    auto block = std::make_unique<VoiceBlock>();
    std::memcpy(block->samples, samples, sizeof block->samples);
    Add(std::move(block));
    hasLastSerial_ = true;
    lastSerial_ = serial;
    return true;
}
