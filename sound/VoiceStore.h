// Storing the voice: writes the recording list to "memory.wav" and loads it
// into the music player as the world's new segment. This is the body of
// World::StoreVoice.
//
// Three places are tried in order: the data folder, then the user's data
// folder ($XDG_DATA_HOME/solvane, by default ~/.local/share/solvane, made
// when missing), then the system's temporary folder. The loader's cache is
// cleared before the file is rewritten, so the load sees the new file.
//
// A recording ends for all sixteen crystals in the same step, and each of
// them stores the voice. The list has not changed between those stores, so
// only the first writes (a long recording is several MB); the others keep
// the segment that is already loaded.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class FileSink;
class MusicPlayer;
class MusicSegment;
class RecordingList;

class VoiceStore {
public:
    explicit VoiceStore(std::vector<std::string> paths);
    // The three places for a data folder, in the order they are tried.
    static std::vector<std::string> DefaultPaths(const std::string& dataDir);

    // Writes through this sink instead of the C library's files (tests).
    void UseFileSink(FileSink* sink) { sink_ = sink; }

    // segment is the world's current segment: null means nothing to do
    // (true). Otherwise it is replaced by a segment loaded from the file
    // written; the result is that load's. Without a player the file is
    // still written, but nothing can be loaded.
    bool Store(const RecordingList& list, std::unique_ptr<MusicSegment>& segment, MusicPlayer* player);

    // The path of the last store (the last place tried when all failed).
    const std::string& LastPath() const { return lastPath_; }
    // Files written so far.
    std::uint32_t Writes() const { return writes_; }

private:
    bool WriteSomewhere(const RecordingList& list);
    bool Unchanged(const RecordingList& list, const MusicSegment* segment) const;

    std::vector<std::string> paths_;
    FileSink* sink_ = nullptr;
    std::string lastPath_;
    std::uint32_t writes_ = 0;
    // What the last successful write held, to recognise an unchanged list.
    bool haveWritten_ = false;
    const RecordingList* writtenList_ = nullptr;
    std::uint64_t writtenGeneration_ = 0;
    std::uint64_t writtenBytes_ = 0;
    bool lastLoad_ = false;
};
