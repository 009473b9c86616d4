// The pool of incoming pictures and its launch cadence.
#include "scenery/IncomingImages.h"

#include <memory>

bool IncomingImages::Create(HDC deviceContext, RenderDevice* renderDevice, int width, int height)
{
    // Made once; a second call keeps the pictures (and their flights) it has.
    if (images != nullptr) return true;
    images = std::make_unique<IncomingImage[]>(kCount);
    for (int i = 0; i < kCount; ++i)
        if (!images[i].Load(deviceContext, renderDevice, width, height)) return false;
    return true;
}

void IncomingImages::Destroy()
{
    images.reset();
    launchCounter = 0;
}

void IncomingImages::Step()
{
    if (images == nullptr) return;
    for (int i = 0; i < kCount; ++i) images[i].Step();
}

void IncomingImages::Draw(IDirect3DDevice9* device)
{
    if (images == nullptr) return;
    // In index order: a later picture is drawn over an earlier one.
    for (int i = 0; i < kCount; ++i) images[i].Draw(device);
}

bool IncomingImages::Launch(IDirect3DDevice9* device, const std::uint8_t* pixels)
{
    ++launchCounter;
    if (launchCounter < kLaunchEvery) return false;
    // NOTE: the count restarts even when the pool is full, so the next
    // attempt comes five requests later.
    launchCounter = 0;
    if (images == nullptr) return false;
    for (int i = 0; i < kCount; ++i)
        if (images[i].Launch(device, pixels)) {
            ++flightsStarted;
            return true;
        }
    return false;
}

int IncomingImages::InFlight() const
{
    if (images == nullptr) return 0;
    int flying = 0;
    for (int i = 0; i < kCount; ++i)
        if (images[i].IsActive()) ++flying;
    return flying;
}

IncomingImages& TheIncomingImages()
{
    static IncomingImages pool;
    return pool;
}
