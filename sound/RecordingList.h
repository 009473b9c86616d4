// The list of microphone blocks recorded while the crystals grow, in
// recording order; the world writes it out as "memory.wav".
//
// Each element is a separately allocated block of 8000 samples. Like every
// PointerList it does not free its elements when destroyed: FreeAll does.
// Blocks made by AppendBlock are shared: Snapshot hands them to the voice
// store's thread, which keeps them alive (and unchanged: a block is never
// written after it is appended) until the file is written, even if FreeAll
// runs on the loop thread meanwhile.
// Every change bumps a generation number, so that a store of an unchanged
// list can be recognised and skipped (a long recording is several MB).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/PointerList.h"

constexpr int kVoiceBlockSamples = 8000;  // one 50 ms microphone block at 160 000 Hz

struct VoiceBlock {
    std::int16_t samples[kVoiceBlockSamples];
};

class FileSink;

class RecordingList : public PointerList<VoiceBlock> {
public:
    RecordingList() = default;
    ~RecordingList() override = default;

    bool Add(VoiceBlock* block) override;
    void RemoveAt(int index) override;
    void Clear() override;

    // Frees every block (in index order), then empties the list.
    void FreeAll();

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

    // Changes with every Add, RemoveAt and Clear.
    std::uint64_t Generation() const { return generation_; }
    // Total bytes of samples the list holds.
    std::uint64_t DataBytes() const { return static_cast<std::uint64_t>(Count()) * sizeof(VoiceBlock); }

private:
    std::uint64_t generation_ = 0;
    // The owners of the blocks AppendBlock made, by address.
    std::unordered_map<const VoiceBlock*, std::shared_ptr<VoiceBlock>> shared_;
    bool hasLastSerial_ = false;
    std::uint32_t lastSerial_ = 0;
};
