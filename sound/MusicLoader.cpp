// The wave loader and its cache.
#include "sound/MusicLoader.h"

#include <filesystem>

#include "common/Log.h"
#include "platform/files/WaveFile.h"

std::string MusicLoader::Resolve(const std::string& path) const
{
    std::filesystem::path p(path);
    if (p.is_relative() && !searchDirectory_.empty()) p = std::filesystem::path(searchDirectory_) / p;
    return p.lexically_normal().string();
}

std::shared_ptr<const MusicWave> MusicLoader::LoadObjectFromFile(const std::string& path)
{
    std::string key = Resolve(path);
    auto found = cache_.find(key);
    if (found != cache_.end()) return found->second;

    platform::MonoWave decoded;
    std::string error;
    if (!platform::LoadMonoWave(key, 0, decoded, error)) {
        LogLine("music", "%s", error.c_str());
        return nullptr;
    }
    ++decodes_;
    auto wave = std::make_shared<MusicWave>();
    wave->path = key;
    wave->rate = decoded.rate;
    wave->samples = std::move(decoded.samples);
    cache_[key] = wave;
    return wave;
}

std::shared_ptr<const MusicWave> MusicLoader::AddDecoded(const std::string& path, int rate, std::vector<std::int16_t> samples)
{
    const std::string key = Resolve(path);
    auto wave = std::make_shared<MusicWave>();
    wave->path = key;
    wave->rate = rate;
    wave->samples = std::move(samples);
    cache_[key] = wave;
    ++decodes_;
    return wave;
}

void MusicLoader::CollectGarbage()
{
    for (auto it = cache_.begin(); it != cache_.end();) {
        if (it->second.use_count() == 1)
            it = cache_.erase(it);
        else
            ++it;
    }
}

void MusicLoader::ClearCache() { cache_.clear(); }

void MusicLoader::ReleaseObjectByUnknown(const MusicWave* wave)
{
    for (auto it = cache_.begin(); it != cache_.end(); ++it) {
        if (it->second.get() == wave) {
            cache_.erase(it);
            return;
        }
    }
}
