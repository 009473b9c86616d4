// The pool of incoming pictures and its launch cadence.
#include "scenery/IncomingImages.h"

#include <memory>

#include "render/RenderDevice.h"

bool IncomingImages::Create(HDC deviceContext, RenderDevice* renderDevice, int width, int height)
{
    // Made once; a second call keeps the pictures (and their flights) it has.
    if (images != nullptr) return true;
    if (renderDevice == nullptr) return false;
    atlas = std::make_unique<PictureAtlas>();
    if (!atlas->Create(deviceContext, renderDevice->Device(), kCount)) return false;
    batch = std::make_unique<SpriteObject>();
    if (!batch->Create(&atlas->Holder(), renderDevice)) return false;
    images = std::make_unique<IncomingImage[]>(kCount);
    for (int i = 0; i < kCount; ++i)
        if (!images[i].Load(deviceContext, renderDevice, width, height, *atlas, i)) return false;
    return true;
}

void IncomingImages::Destroy()
{
    images.reset();
    batch.reset();
    atlas.reset();
    launchCounter = 0;
}

void IncomingImages::Step()
{
    if (images == nullptr) return;
    for (int i = 0; i < kCount; ++i) images[i].Step();
}

void IncomingImages::Draw(IDirect3DDevice9*)
{
    if (images == nullptr || batch == nullptr || batch->Sprite() == nullptr || InFlight() == 0) return;
    ID3DXSprite* sprite = batch->Sprite();
    if (FAILED(sprite->Begin())) return;
    // In index order: a later picture is drawn over an earlier one.
    for (int i = 0; i < kCount; ++i) images[i].DrawWith(sprite);
    sprite->End();
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
