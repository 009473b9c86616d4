// The pool of the 48 pictures that can fly at once. It is made once at
// start-up; launch requests come every scene step once the peer has sent a
// picture, and only every fifth one starts a flight, on the first idle
// picture. A request that finds all 48 in flight is dropped.
//
// The pictures share one texture (PictureAtlas), and the pool draws them
// through one sprite of its own between one Begin and End: all pictures in
// flight are one draw, in index order, a later one over an earlier one.
#pragma once

#include <cstdint>
#include <memory>

#include "common/NonCopyable.h"
#include "platform/d3d9/d3d9.h"
#include "scenery/IncomingImage.h"
#include "scenery/PictureAtlas.h"
#include "scenery/SpriteObject.h"

class RenderDevice;

class IncomingImages : NonCopyable {
public:
    static constexpr int kCount = 48;
    static constexpr int kLaunchEvery = 5;

    IncomingImages() = default;
    ~IncomingImages() = default;

    bool Create(HDC deviceContext, RenderDevice* renderDevice, int width, int height);
    // Gives up the pictures, their sprites and textures while the device is
    // still there; the pool is then empty (and does nothing) until the next
    // Create. Safe to call any number of times.
    void Destroy();
    void Step();
    void Draw(IDirect3DDevice9* device);
    // Counts the request; every fifth hands the 128x128 RGB picture to the
    // first idle image. True when a flight started.
    bool Launch(IDirect3DDevice9* device, const std::uint8_t* pixels);

    bool IsCreated() const { return images != nullptr; }
    IncomingImage& Image(int index) { return images[index]; }
    const PictureAtlas* Atlas() const { return atlas.get(); }
    int InFlight() const;
    int LaunchCounter() const { return launchCounter; }
    // Flights started since the pool was made (reporters follow it).
    std::uint64_t FlightsStarted() const { return flightsStarted; }

private:
    // Declared before the images, which draw from them, so they go last.
    std::unique_ptr<PictureAtlas> atlas;
    std::unique_ptr<SpriteObject> batch;
    std::unique_ptr<IncomingImage[]> images;
    int launchCounter = 0;
    std::uint64_t flightsStarted = 0;
};

// The process-wide pool, made on first use and destroyed at exit.
IncomingImages& TheIncomingImages();
