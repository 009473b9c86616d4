// Writing "memory.wav" to the first place that takes it, and loading it.
#include "sound/VoiceStore.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "common/Log.h"
#include "sound/MusicPlayer.h"
#include "sound/MusicSegment.h"
#include "sound/RecordingList.h"
#include "sound/WaveFileWriter.h"

namespace fs = std::filesystem;

VoiceStore::VoiceStore(std::vector<std::string> paths) : paths_(std::move(paths))
{
    if (!paths_.empty()) lastPath_ = paths_.back();
}

std::vector<std::string> VoiceStore::DefaultPaths(const std::string& dataDir)
{
    std::vector<std::string> paths;
    paths.push_back((fs::path(dataDir.empty() ? "." : dataDir) / "memory.wav").string());
    // The XDG rule: a relative $XDG_DATA_HOME is ignored.
    const char* xdg = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    if (xdg != nullptr && xdg[0] == '/')
        paths.push_back((fs::path(xdg) / "solvane" / "memory.wav").string());
    else if (home != nullptr && home[0] != '\0')
        paths.push_back((fs::path(home) / ".local" / "share" / "solvane" / "memory.wav").string());
    std::error_code error;
    fs::path temp = fs::temp_directory_path(error);
    if (error) temp = "/tmp";
    paths.push_back((temp / "solvane-memory.wav").string());
    return paths;
}

bool VoiceStore::Unchanged(const RecordingList& list, const MusicSegment* segment) const
{
    if (!haveWritten_ || writtenList_ != &list || writtenGeneration_ != list.Generation()) return false;
    if (segment == nullptr || !segment->IsLoaded()) return false;
    // The file must still be the one written (nobody removed or replaced it).
    std::error_code error;
    auto size = fs::file_size(lastPath_, error);
    return !error && size == writtenBytes_;
}

bool VoiceStore::WriteSomewhere(const RecordingList& list)
{
    StdioFileSink stdioSink;
    FileSink& sink = sink_ != nullptr ? *sink_ : stdioSink;
    for (std::size_t i = 0; i < paths_.size(); ++i) {
        const std::string& path = paths_[i];
        lastPath_ = path;
        if (i > 0) {
            // The fallback folders are made when missing; the data folder is not.
            std::error_code ignored;
            fs::create_directories(fs::path(path).parent_path(), ignored);
        }
        if (list.WriteWave(path, sink)) {
            ++writes_;
            LogLine("memory", "stored the voice in \"%s\" (%d blocks, %.2f s)", path.c_str(), list.Count(),
                    list.Count() * 0.05);
            return true;
        }
        LogLine("memory", "cannot write \"%s\": %s%s", path.c_str(), sink.LastError().c_str(),
                i + 1 < paths_.size() ? "; trying the next place" : "; the voice is not stored");
    }
    return false;
}

bool VoiceStore::Store(const RecordingList& list, std::unique_ptr<MusicSegment>& segment, MusicPlayer* player)
{
    if (segment == nullptr) return true;
    if (Unchanged(list, segment.get())) return lastLoad_;

    segment.reset();  // unloads the old voice from the performance
    MusicLoader* loader = player != nullptr ? player->Loader() : nullptr;
    MusicPerformance* performance = player != nullptr ? player->Performance() : nullptr;
    if (loader != nullptr) {
        // The file is about to be rewritten under the same name.
        loader->CollectGarbage();
        loader->ClearCache();
    }
    haveWritten_ = false;
    if (WriteSomewhere(list)) {
        haveWritten_ = true;
        writtenList_ = &list;
        writtenGeneration_ = list.Generation();
        writtenBytes_ = kWaveHeaderBytes + list.DataBytes();
    }
    segment = std::make_unique<MusicSegment>();
    lastLoad_ = segment->Load(performance, loader, lastPath_, true);
    return lastLoad_;
}
