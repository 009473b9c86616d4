// Something that keeps GPU copies of textures or buffers, whose bytes live
// in CPU memory: told when one of them dies so that it can free its copy.
#pragma once

template <typename Object>
class GpuCopyCache {
public:
    virtual void Forget(Object* object) = 0;

protected:
    ~GpuCopyCache() = default;
};
