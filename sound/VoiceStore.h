// Storing the voice: writes the recording list to "memory.wav" and loads it
// into the music player as the world's new segment. This is the body of
// World::StoreVoice.
//
// Three places are tried in order: the data folder, then the user's data
// folder ($XDG_DATA_HOME/solvane, by default ~/.local/share/solvane, made
// when missing), then a folder of the user's own in the system's temporary
// folder (solvane-<uid>, made 0700). A fallback folder that is not the
// user's (a stranger's folder or link planted in /tmp) is refused with a
// line naming its owner. In each, the file is written as a new
// "memory.wav.partial" of mode 0600 (O_EXCL|O_NOFOLLOW: never through what
// someone else left there), flushed to the disk and renamed over
// "memory.wav", so a failure or a kill at any moment leaves the previous
// voice or the new one, whole; a partial file is removed.
//
// A recording ends for all sixteen crystals in the same step, and each of
// them stores the voice. The list has not changed between those stores, so
// only the first writes (a long recording is several MB); the others keep
// the segment that is already loaded.
//
// After a store that no place took, the next one waits: 10 s, doubling with
// every further failure up to 10 minutes; one line says so each time.
//
// Threads: writing and reading back the file run on the store's own thread,
// so a step never waits for the disk. Begin, Collect, Finish and Store are
// called by the loop thread only. Begin hands the thread a snapshot of the
// blocks (shared, not copied); the thread hands back finished work (the
// decoded file) that Collect turns into the segment on the loop thread, so
// the music player and the loader are touched by the loop thread only. The
// destructor lets a store in progress finish.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/NonCopyable.h"
#include "platform/files/WaveFile.h"

class FileSink;
class MusicPlayer;
class MusicSegment;
class RecordingList;
struct VoiceBlock;

// The last voice stored, for the health report.
struct StoredVoiceInfo {
    std::string path;
    int blocks = 0;
    std::int64_t unixTime = 0;  // seconds since 1970, when the file was renamed into place
};

class VoiceStore : NonCopyable {
public:
    // The folders of paths[0 .. keptFolders) are used as they are (the data
    // folder); those of the later paths are made when missing.
    explicit VoiceStore(std::vector<std::string> paths, std::size_t keptFolders = 1);
    ~VoiceStore();

    // The three places for a data folder, in the order they are tried.
    static std::vector<std::string> DefaultPaths(const std::string& dataDir);

    // Writes through this sink instead of the C library's files (tests). The
    // sink is used on the store's thread.
    void UseFileSink(FileSink* sink) { sink_ = sink; }
    // Milliseconds for the pause after a failure (tests); default steady clock.
    void UseClock(std::function<std::uint64_t()> clock) { clock_ = std::move(clock); }

    // segment is the world's current segment: null means nothing to do.
    // Otherwise the list is handed to the store's thread to be written,
    // unless it is unchanged since the last write or the pause after a
    // failure is not over. Returns at once.
    void Begin(const RecordingList& list, const std::unique_ptr<MusicSegment>& segment);
    // Replaces segment with the voice the store's thread has read back, when
    // it has finished one. True when it did; the result is in LastLoad().
    bool Collect(std::unique_ptr<MusicSegment>& segment, MusicPlayer* player);
    // Waits until the store's thread is idle, then collects.
    void Finish(std::unique_ptr<MusicSegment>& segment, MusicPlayer* player);
    // Begin, then Finish: the store as one call (tests, tools). True when the
    // stored voice is loaded (an unchanged list: when the last one was).
    bool Store(const RecordingList& list, std::unique_ptr<MusicSegment>& segment, MusicPlayer* player);

    // The path of the last store (the last place tried when all failed).
    const std::string& LastPath() const { return lastPath_; }
    // Files written so far.
    std::uint32_t Writes() const { return writes_; }
    bool LastLoad() const { return lastLoad_; }
    // Stores refused because the pause after a failure was not over.
    std::uint32_t Deferred() const { return deferred_; }
    // The last voice written, if any.
    const std::optional<StoredVoiceInfo>& LastStored() const { return lastStored_; }

private:
    struct Job {
        std::vector<std::shared_ptr<const VoiceBlock>> blocks;
    };
    struct Result {
        bool written = false;
        std::string path;
        int blocks = 0;
        std::string failures;  // "cannot write ...; " for each place that refused
        bool decoded = false;
        std::string decodeError;
        platform::MonoWave wave;
        std::int64_t unixTime = 0;
    };

    bool Unchanged(const RecordingList& list, const MusicSegment* segment) const;
    void Run();
    Result Write(const Job& job);
    void Apply(Result& result, std::unique_ptr<MusicSegment>& segment, MusicPlayer* player);
    std::uint64_t NowMs() const;

    std::vector<std::string> paths_;
    std::size_t keptFolders_ = 1;
    FileSink* sink_ = nullptr;
    std::function<std::uint64_t()> clock_;

    // Loop thread only.
    std::string lastPath_;
    std::uint32_t writes_ = 0;
    bool haveWritten_ = false;
    const RecordingList* writtenList_ = nullptr;
    std::uint64_t writtenGeneration_ = 0;
    std::uint64_t writtenBytes_ = 0;
    bool lastLoad_ = false;
    // The list and generation handed to the thread and not yet collected.
    bool pending_ = false;
    const RecordingList* pendingList_ = nullptr;
    std::uint64_t pendingGeneration_ = 0;
    std::uint32_t failures_ = 0;
    std::uint64_t nextTryMs_ = 0;
    std::uint32_t deferred_ = 0;
    std::optional<StoredVoiceInfo> lastStored_;

    // Shared with the store's thread, under mutex_.
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::optional<Job> job_;              // waiting to be written (the newest wins)
    bool working_ = false;                // the thread is writing a job
    std::vector<Result> finished_;        // written, waiting for Collect
    bool stopping_ = false;
    std::thread thread_;
};
