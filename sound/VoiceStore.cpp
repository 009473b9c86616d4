// Writing "memory.wav" to the first place that takes it, on the store's own
// thread, and loading it on the loop thread.
#include "sound/VoiceStore.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

#include "common/InstalledData.h"
#include "common/Log.h"
#include "common/PrivateFiles.h"
#include "sound/MusicPlayer.h"
#include "sound/MusicSegment.h"
#include "sound/RecordingList.h"
#include "sound/WaveFileWriter.h"

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kFirstPauseMs = 10'000;
constexpr std::uint64_t kLongestPauseMs = 600'000;

std::string PartialPath(const std::string& path) { return path + ".partial"; }

// <temp>/solvane-<uid>: a folder of this user's own in the shared temporary
// folder, so another user can neither read the voice nor plant what it is
// written through.
fs::path OwnTemporaryFolder()
{
    std::error_code error;
    fs::path temp = fs::temp_directory_path(error);
    if (error) temp = "/tmp";
    return temp / ("solvane-" + std::to_string(::geteuid()));
}

// The rename is on the disk only once the folder is: without this a power
// cut could bring back the folder's old entry.
void SyncFolder(const std::string& path)
{
    const fs::path folder = fs::path(path).parent_path();
    int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

VoiceStore::VoiceStore(std::vector<std::string> paths, std::size_t keptFolders)
    : paths_(std::move(paths)), keptFolders_(keptFolders)
{
    if (!paths_.empty()) lastPath_ = paths_.back();
    // A kill while writing leaves a partial file; it is never the voice. A
    // fallback folder that is not ours is left alone (the store refuses it).
    for (std::size_t i = 0; i < paths_.size(); ++i) {
        std::string why;
        if (i > 0 && !CheckOwnFolder(fs::path(paths_[i]).parent_path().string(), ::geteuid(), why)) continue;
        std::error_code ignored;
        fs::remove(PartialPath(paths_[i]), ignored);
    }
}

VoiceStore::~VoiceStore()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    // The thread writes what it was given before it ends: a voice handed
    // over is not lost because the program ends.
    if (thread_.joinable()) thread_.join();
}

std::vector<std::string> VoiceStore::DefaultPaths(const std::string& dataDir)
{
    std::vector<std::string> paths;
    // The installed data folder belongs to the package: the voice never
    // goes there, even when the program runs with the rights to write it.
    if (!IsInstalledDataFolder(dataDir))
        paths.push_back((fs::path(dataDir.empty() ? "." : dataDir) / "memory.wav").string());
    // The XDG rule: a relative $XDG_DATA_HOME is ignored.
    const char* xdg = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    if (xdg != nullptr && xdg[0] == '/')
        paths.push_back((fs::path(xdg) / "solvane" / "memory.wav").string());
    else if (home != nullptr && home[0] != '\0')
        paths.push_back((fs::path(home) / ".local" / "share" / "solvane" / "memory.wav").string());
    paths.push_back((OwnTemporaryFolder() / "memory.wav").string());
    return paths;
}

std::uint64_t VoiceStore::NowMs() const
{
    if (clock_) return clock_();
    using namespace std::chrono;
    return static_cast<std::uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

bool VoiceStore::Unchanged(const RecordingList& list, const MusicSegment* segment) const
{
    if (pending_ && pendingList_ == &list && pendingGeneration_ == list.Generation()) return true;
    if (!haveWritten_ || writtenList_ != &list || writtenGeneration_ != list.Generation()) return false;
    if (segment == nullptr || !segment->IsLoaded()) return false;
    // The file must still be the one written (nobody removed or replaced it).
    std::error_code error;
    auto size = fs::file_size(lastPath_, error);
    return !error && size == writtenBytes_;
}

void VoiceStore::Begin(const RecordingList& list, const std::unique_ptr<MusicSegment>& segment)
{
    if (segment == nullptr) return;
    if (Unchanged(list, segment.get())) return;
    if (failures_ > 0 && NowMs() < nextTryMs_) {
        ++deferred_;
        return;
    }
    Job job{list.Snapshot()};
    pending_ = true;
    pendingList_ = &list;
    pendingGeneration_ = list.Generation();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        job_ = std::move(job);
        if (!thread_.joinable()) thread_ = std::thread(&VoiceStore::Run, this);
    }
    wake_.notify_all();
}

void VoiceStore::Run()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || job_.has_value(); });
        if (!job_.has_value()) return;  // stopping, nothing left to write
        Job job = std::move(*job_);
        job_.reset();
        working_ = true;
        lock.unlock();
        Result result = Write(job);
        job.blocks.clear();  // the blocks may go now
        lock.lock();
        working_ = false;
        finished_.push_back(std::move(result));
        wake_.notify_all();
    }
}

VoiceStore::Result VoiceStore::Write(const Job& job)
{
    StdioFileSink stdioSink;
    FileSink& sink = sink_ != nullptr ? *sink_ : stdioSink;
    std::vector<const VoiceBlock*> blocks;
    blocks.reserve(job.blocks.size());
    for (const auto& block : job.blocks) blocks.push_back(block.get());

    Result result;
    result.blocks = static_cast<int>(blocks.size());
    for (std::size_t i = 0; i < paths_.size(); ++i) {
        const std::string& path = paths_[i];
        const std::string partial = PartialPath(path);
        result.path = path;
        std::error_code ignored;
        std::string why;
        // The fallback folders are made when missing and must be ours: the
        // temporary folder is shared with every user. The data folder is
        // the installation's own and is not made.
        if (i >= keptFolders_ && !PrepareOwnFolder(fs::path(path).parent_path().string(), ::geteuid(), why)) {
            result.failures += "cannot write \"" + path + "\": " + why + "; ";
            continue;
        }
        WaveFileWriter writer(sink);
        if (writer.WriteBlocks(blocks.data(), blocks.size(), partial)) {
            std::error_code renamed;
            fs::rename(partial, path, renamed);
            if (!renamed) {
                SyncFolder(path);
                result.written = true;
                result.unixTime = static_cast<std::int64_t>(std::time(nullptr));
                break;
            }
            why = renamed.message();
        } else {
            why = sink.LastError();
        }
        fs::remove(partial, ignored);
        result.failures += "cannot write \"" + path + "\": " + why + "; ";
    }
    if (result.written) {
        // Read back from the disk, as the music player would load any file.
        result.decoded = platform::LoadMonoWave(result.path, 0, result.wave, result.decodeError);
    }
    return result;
}

void VoiceStore::Apply(Result& result, std::unique_ptr<MusicSegment>& segment, MusicPlayer* player)
{
    lastPath_ = result.path;
    if (!result.written) {
        ++failures_;
        const std::uint64_t pause = std::min(kLongestPauseMs, kFirstPauseMs << std::min<std::uint32_t>(failures_ - 1, 16));
        nextTryMs_ = NowMs() + pause;
        LogWarning("memory", "%sthe voice is not stored; next try in %llu s at the earliest", result.failures.c_str(),
                   static_cast<unsigned long long>(pause / 1000));
        haveWritten_ = false;
        lastLoad_ = false;
        // The previous voice stays loaded: its file is still whole.
        return;
    }
    failures_ = 0;
    ++writes_;
    haveWritten_ = true;
    writtenList_ = pendingList_;
    writtenGeneration_ = pendingGeneration_;
    writtenBytes_ = kWaveHeaderBytes + static_cast<std::uint64_t>(result.blocks) * sizeof(VoiceBlock);
    lastStored_ = StoredVoiceInfo{result.path, result.blocks, result.unixTime};
    LogLine("memory", "%sstored the voice in \"%s\" (%d blocks, %.2f s)", result.failures.c_str(), result.path.c_str(),
            result.blocks, result.blocks * 0.05);

    segment.reset();  // unloads the old voice from the performance
    MusicLoader* loader = player != nullptr ? player->Loader() : nullptr;
    MusicPerformance* performance = player != nullptr ? player->Performance() : nullptr;
    std::shared_ptr<const MusicWave> decoded;  // held until the segment holds it
    if (loader != nullptr) {
        // The file was rewritten under the same name: the cache must not
        // hand out the old recording.
        loader->CollectGarbage();
        loader->ClearCache();
        if (result.decoded)
            decoded = loader->AddDecoded(result.path, result.wave.rate, std::move(result.wave.samples));
        else
            LogWarning("memory", "cannot read back the stored voice: %s", result.decodeError.c_str());
    }
    segment = std::make_unique<MusicSegment>();
    lastLoad_ = segment->Load(performance, loader, result.path, true);
}

bool VoiceStore::Collect(std::unique_ptr<MusicSegment>& segment, MusicPlayer* player)
{
    std::vector<Result> finished;
    bool idle = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        finished.swap(finished_);
        idle = !working_ && !job_.has_value();
    }
    for (Result& result : finished) Apply(result, segment, player);
    if (idle) pending_ = false;
    return !finished.empty();
}

void VoiceStore::Finish(std::unique_ptr<MusicSegment>& segment, MusicPlayer* player)
{
    {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [this] { return !working_ && !job_.has_value(); });
    }
    Collect(segment, player);
}

bool VoiceStore::Store(const RecordingList& list, std::unique_ptr<MusicSegment>& segment, MusicPlayer* player)
{
    if (segment == nullptr) return true;
    Begin(list, segment);
    Finish(segment, player);
    return lastLoad_;
}
