// One loaded wave, the stored voice, downloaded to the performance. The
// world owns the current segment and replaces it at every store; deleting
// it unloads the wave and lets the loader forget it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/NonCopyable.h"
#include "sound/MusicLoader.h"

class MusicPerformance;

class MusicSegment : NonCopyable {
public:
    MusicSegment() = default;
    virtual ~MusicSegment();

    // Loads path through the loader and downloads it to the performance.
    // notMidi is true for waves; a wave is never a MIDI file, so false only
    // changes nothing.
    bool Load(MusicPerformance* performance, MusicLoader* loader, const std::string& path, bool notMidi);

    bool IsLoaded() const { return segment_ != nullptr; }
    const MusicWave* Wave() const { return segment_.get(); }
    // Length in samples of the loaded wave.
    std::int32_t Length() const { return length_; }

private:
    std::shared_ptr<const MusicWave> segment_;
    std::int32_t length_ = 0;
    MusicPerformance* performance_ = nullptr;  // not owned
    MusicLoader* loader_ = nullptr;            // not owned
};
