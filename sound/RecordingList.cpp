// The recording list: the blocks, their freeing, and the generation number.
#include "sound/RecordingList.h"

#include <cstring>
#include <utility>

#include "common/PointerList.h"
#include "sound/WaveFileWriter.h"

void RecordingList::AddSlot(Slot slot)
{
    pointer_list::GrowForOneMore(blocks_);
    blocks_.push_back(std::move(slot));
    ++generation_;
}

void RecordingList::Add(std::unique_ptr<VoiceBlock> block)
{
    AddSlot(Slot{std::shared_ptr<VoiceBlock>(std::move(block)), false});
}

void RecordingList::Clear()
{
    if (Count() == 0) return;
    for (Slot& slot : blocks_) slot.block.reset();
    blocks_.clear();
    ++generation_;
}

std::vector<std::shared_ptr<const VoiceBlock>> RecordingList::Snapshot() const
{
    std::vector<std::shared_ptr<const VoiceBlock>> blocks;
    blocks.reserve(static_cast<std::size_t>(Count()));
    for (const Slot& slot : blocks_) {
        if (slot.appended || slot.block == nullptr)
            blocks.push_back(slot.block);
        else
            blocks.push_back(std::make_shared<const VoiceBlock>(*slot.block));
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
    auto block = std::make_shared<VoiceBlock>();
    std::memcpy(block->samples, samples, sizeof block->samples);
    AddSlot(Slot{std::move(block), true});
    hasLastSerial_ = true;
    lastSerial_ = serial;
    return true;
}
