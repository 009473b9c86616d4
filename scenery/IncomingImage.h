// One picture received from the peer, flying in from far outside the screen
// towards its centre: full size and opacity until it comes within `radius`
// of the centre, then shrinking and fading with its distance until it
// vanishes 12 pixels from the centre and becomes free for the next picture.
//
// The picture lives in its own cell of the pool's PictureAtlas; its sprite
// draws it from there when it is drawn alone, and the pool draws all of its
// pictures through one sprite of its own.
#pragma once

#include <cstdint>

#include "platform/d3d9/d3dx9.h"
#include "scenery/SpriteObject.h"

class PictureAtlas;
class RenderDevice;

class IncomingImage : public SpriteObject {
public:
    static constexpr int kPictureSize = 128;
    static constexpr std::size_t kPictureBytes = kPictureSize * kPictureSize * 3;
    // Distance from the centre below which a flying picture is put away.
    static constexpr float kArrivalDistance = 12.0f;
    static constexpr float kSpeed = 3.0f;  // pixels per scene step

    struct Tint {
        std::uint8_t red, green, blue;
    };
    static const Tint kTints[7];

    IncomingImage() = default;
    ~IncomingImage() override = default;

    // Takes cell `cell` of the atlas for its picture.
    bool Load(HDC deviceContext, RenderDevice* renderer, int width, int height, PictureAtlas& atlas, int cell);
    // Starts a flight with this 128x128 RGB picture; false while one is under way.
    bool Launch(IDirect3DDevice9* device, const std::uint8_t* pixels);
    void Step();
    // Draws the picture, if it flies, through its own sprite.
    void Draw(IDirect3DDevice9* device);
    // Draws the picture, if it flies, through a sprite of the same atlas.
    void DrawWith(ID3DXSprite* through) const;

    bool IsActive() const { return active; }
    const D3DXVECTOR2& Position() const { return position; }
    const D3DXVECTOR2& Direction() const { return direction; }
    int Radius() const { return radius; }
    Tint CurrentTint() const { return tint; }
    int Cell() const { return cell; }
    // The part of the atlas drawn: the picture's top 120 rows.
    RECT SourceRect() const;
    // Distance of the picture's corner from the screen centre, in whole pixels.
    float Distance() const;

    // The scaling and alpha a picture gets at this distance from the centre.
    static float ScaleAt(float distance, int radius);
    static int AlphaAt(float distance, int radius);
    // The flight radius for a screen of this size (848 for 640x480).
    static int RadiusFor(int width, int height);

private:
    void PlaceAt(int angleDegrees);

    bool active = false;
    int screenWidth = 0;
    int screenHeight = 0;
    PictureAtlas* atlas = nullptr;
    int cell = 0;
    D3DXVECTOR2 position;
    D3DXVECTOR2 direction;
    int radius = 0;
    Tint tint{255, 255, 255};
};
