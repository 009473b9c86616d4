// The list of microphone blocks recorded while the crystals grow, in
// recording order; the world writes it out as "memory.wav".
//
// Each element is a separately allocated block of 8000 samples that the list
// owns: removing a block frees it, and so does destroying the list.
// Blocks made by AppendBlock are shared: Snapshot hands them to the voice
// store's thread, which keeps them alive (and unchanged: a block is never
// written after it is appended) until the file is written, even if FreeAll
// runs on the loop thread meanwhile.
// Every change bumps a generation number, so that a store of an unchanged
// list can be recognised and skipped (a long recording is several MB).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/NonCopyable.h"

constexpr int kVoiceBlockSamples = 8000;  // one 50 ms microphone block at 160 000 Hz

struct VoiceBlock {
    std::int16_t samples[kVoiceBlockSamples];
};

class FileSink;

class RecordingList : NonCopyable {
public:
    RecordingList() = default;

    void Add(std::unique_ptr<VoiceBlock> block);
    // Frees every block (in index order), then empties the list.
    void Clear();
    // Clear under the name the crystals' reset uses.
    void FreeAll() { Clear(); }

    int Count() const { return static_cast<int>(blocks_.size()); }
    VoiceBlock* operator[](int index) const { return blocks_[static_cast<std::size_t>(index)].block.get(); }
    VoiceBlock* At(int index) const { return (index >= 0 && index < Count()) ? (*this)[index] : nullptr; }

    // Writes the list as a 160 000 Hz mono 16-bit wave file, creating or
    // truncating path. True only when every byte reached the file; a short
    // write leaves the partial file in place.
    bool WriteWave(const std::string& path) const;
    bool WriteWave(const std::string& path, FileSink& sink) const;

    // Appends a copy of the first 8000 samples of the microphone block with
    // this serial number, unless that block was the last one appended. Every
    // recording crystal may offer the current block; it is kept once.
    bool AppendBlock(const std::int16_t* samples, std::uint32_t serial);

    // The blocks in list order, kept alive for as long as the caller holds
    // them. Loop thread; cheap (no samples are copied for appended blocks).
    std::vector<std::shared_ptr<const VoiceBlock>> Snapshot() const;

    // Changes with every block added (Add, AppendBlock) and every Clear.
    std::uint64_t Generation() const { return generation_; }

private:
    struct Slot {
        std::shared_ptr<VoiceBlock> block;
        // Blocks added by hand may still be written through operator[], so
        // Snapshot copies them instead of sharing them.
        bool appended = false;
    };

    void AddSlot(Slot slot);

    std::vector<Slot> blocks_;
    std::uint64_t generation_ = 0;
    bool hasLastSerial_ = false;
    std::uint32_t lastSerial_ = 0;
};
