// The loader of the music player: reads wave files into decoded waves and
// keeps them in a cache keyed by path, like DirectMusic's loader does with
// its objects. Because the stored voice is rewritten under the same name,
// the world clears this cache before every rewrite; otherwise the next load
// would find the old recording.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/NonCopyable.h"

// A decoded wave: mono 16-bit samples at the file's own rate.
struct MusicWave {
    std::string path;
    int rate = 0;
    std::vector<std::int16_t> samples;
};

class MusicLoader : NonCopyable {
public:
    MusicLoader() = default;
    virtual ~MusicLoader() = default;

    // Relative paths are looked up in this folder (empty: the current one).
    void SetSearchDirectory(const std::string& directory) { searchDirectory_ = directory; }
    // The wave at path, from the cache or freshly decoded; null when the file
    // is missing or unreadable.
    std::shared_ptr<const MusicWave> LoadObjectFromFile(const std::string& path);
    // Puts a wave decoded elsewhere (the voice store's thread) into the
    // cache under path, replacing what was there; counts as a decode.
    // The caller holds the returned wave until something else does (a
    // segment): CollectGarbage drops waves nobody holds.
    std::shared_ptr<const MusicWave> AddDecoded(const std::string& path, int rate, std::vector<std::int16_t> samples);
    // Drops cached waves that nothing else holds any more.
    void CollectGarbage();
    // Forgets every cached wave (holders keep theirs).
    void ClearCache();
    // Forgets this one wave.
    void ReleaseObjectByUnknown(const MusicWave* wave);

    std::size_t CachedCount() const { return cache_.size(); }
    // How many files were decoded so far (a cache hit decodes nothing).
    std::uint32_t DecodeCount() const { return decodes_; }

private:
    std::string Resolve(const std::string& path) const;

    std::string searchDirectory_;
    std::map<std::string, std::shared_ptr<const MusicWave>> cache_;
    std::uint32_t decodes_ = 0;
};
