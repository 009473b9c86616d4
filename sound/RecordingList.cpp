// The recording list: the blocks, their freeing, and the generation number.
#include "sound/RecordingList.h"

#include <cstring>
#include <new>

#include "sound/WaveFileWriter.h"

bool RecordingList::Add(VoiceBlock* block)
{
    if (!PointerList<VoiceBlock>::Add(block)) return false;
    ++generation_;
    return true;
}

void RecordingList::RemoveAt(int index)
{
    if (index < 0 || index >= Count()) return;
    PointerList<VoiceBlock>::RemoveAt(index);
    ++generation_;
}

void RecordingList::Clear()
{
    while (Count() > 0) RemoveAt(0);
}

void RecordingList::FreeAll()
{
    for (int i = 0; i < Count(); ++i) delete items_[i];
    Clear();
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
    auto* block = new (std::nothrow) VoiceBlock;
    if (block == nullptr) return false;
    std::memcpy(block->samples, samples, sizeof block->samples);
    if (!Add(block)) {
        delete block;
        return false;
    }
    hasLastSerial_ = true;
    lastSerial_ = serial;
    return true;
}
