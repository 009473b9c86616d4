// Loading, downloading and unloading the stored voice.
#include "sound/MusicSegment.h"

#include <limits>

#include "sound/MusicPerformance.h"

MusicSegment::~MusicSegment()
{
    if (segment_ != nullptr) {
        if (loader_ != nullptr) loader_->ReleaseObjectByUnknown(segment_.get());
        if (performance_ != nullptr) performance_->Unload(segment_.get());
    }
    performance_ = nullptr;
    segment_.reset();
}

bool MusicSegment::Load(MusicPerformance* performance, MusicLoader* loader, const std::string& path, bool)
{
    performance_ = performance;
    loader_ = loader;
    if (loader_ == nullptr) return false;
    loader_->CollectGarbage();
    segment_ = loader_->LoadObjectFromFile(path);
    if (segment_ == nullptr) return false;
    std::size_t samples = segment_->samples.size();
    length_ = static_cast<std::int32_t>(std::min<std::size_t>(samples, std::numeric_limits<std::int32_t>::max()));
    if (performance_ == nullptr) return false;
    return performance_->Download(segment_);
}
