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
    for (int i = 0; i < Count(); ++i)
        if (shared_.erase(items_[i]) == 0) delete items_[i];
    Clear();
    // Appended blocks that were removed from the list earlier go too.
    shared_.clear();
}

std::vector<std::shared_ptr<const VoiceBlock>> RecordingList::Snapshot() const
{
    std::vector<std::shared_ptr<const VoiceBlock>> blocks;
    blocks.reserve(static_cast<std::size_t>(Count()));
    for (int i = 0; i < Count(); ++i) {
        auto found = shared_.find(items_[i]);
        if (found != shared_.end())
            blocks.push_back(found->second);
        else
            blocks.push_back(std::make_shared<const VoiceBlock>(*items_[i]));  // added by hand: copied
    }
    return blocks;
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
    std::shared_ptr<VoiceBlock> owner;
    try {
        owner = std::make_shared<VoiceBlock>();
    } catch (const std::bad_alloc&) {
        return false;
    }
    VoiceBlock* block = owner.get();
    std::memcpy(block->samples, samples, sizeof block->samples);
    if (!Add(block)) return false;
    shared_.emplace(block, std::move(owner));
    hasLastSerial_ = true;
    lastSerial_ = serial;
    return true;
}
