// Flight, tint and drawing of one incoming picture.
#include "scenery/IncomingImage.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "render/RenderDevice.h"
#include "scenery/PictureAtlas.h"
#include "scenery/SceneNode.h"

namespace {
constexpr float kRadiansToDegrees = 0.31830996f * 180.0f;
}  // namespace

const IncomingImage::Tint IncomingImage::kTints[7] = {
    {255, 172, 172}, {172, 255, 172}, {172, 172, 255}, {255, 232, 172},
    {172, 255, 232}, {232, 172, 255}, {255, 255, 255},
};

int IncomingImage::RadiusFor(int width, int height)
{
    const int a = (width + kPictureSize) / 2;
    const int b = (height + kPictureSize) / 2;
    return static_cast<int>(std::sqrt(static_cast<double>(a) * a + static_cast<double>(b) * b) * std::sqrt(3.0));
}

bool IncomingImage::Load(HDC, RenderDevice* renderer, int width, int height, PictureAtlas& pictures, int slot)
{
    if (renderer == nullptr || slot < 0 || slot >= pictures.Cells()) return false;
    atlas = &pictures;
    cell = slot;
    screenWidth = width;
    screenHeight = height;
    if (!Create(&pictures.Holder(), renderer)) return false;
    radius = RadiusFor(width, height);
    return true;
}

float IncomingImage::Distance() const
{
    const int ix = static_cast<int>(position.x) - screenWidth / 2;
    const int iy = static_cast<int>(position.y) - screenHeight / 2;
    return std::sqrt(static_cast<float>(ix * ix + iy * iy));
}

void IncomingImage::PlaceAt(int angleDegrees)
{
    const float cx = static_cast<float>(screenWidth / 2);
    const float cy = static_cast<float>(screenHeight / 2);
    const float theta = static_cast<float>(angleDegrees) * DegreesToRadians;
    const float d = static_cast<float>(radius) + 128.0f;
    position = D3DXVECTOR2(d * std::cos(theta) + cx + 64.0f, d * std::sin(theta) + cy + 64.0f);

    // The heading is taken from the whole-pixel offset of the start point.
    const int ix = static_cast<int>(position.x) - screenWidth / 2;
    const int iy = static_cast<int>(position.y) - screenHeight / 2;
    const float distance = Distance();
    const float cosine = distance > 0.0f ? std::clamp(static_cast<float>(ix) / distance, -1.0f, 1.0f) : 1.0f;
    float phi = std::acos(cosine) * kRadiansToDegrees;
    if (iy < 0) phi = 360.0f - phi;
    direction = D3DXVECTOR2(std::cos(phi * DegreesToRadians), std::sin(phi * DegreesToRadians));
}

bool IncomingImage::Launch(IDirect3DDevice9* device, const std::uint8_t* pixels)
{
    if (active || pixels == nullptr) return false;
    // NOTE: the angle is drawn before the tint; a seeded run depends on it.
    PlaceAt(std::rand() % 360);

    if (atlas != nullptr) atlas->Store(device, cell, pixels);
    tint = kTints[std::rand() % 7];
    active = true;
    return true;
}

void IncomingImage::Step()
{
    if (!active) return;
    position.x -= kSpeed * direction.x;
    position.y -= kSpeed * direction.y;
    if (Distance() < kArrivalDistance) active = false;
}

float IncomingImage::ScaleAt(float distance, int flightRadius)
{
    if (flightRadius <= 0 || distance >= static_cast<float>(flightRadius)) return 1.0f;
    return distance / static_cast<float>(flightRadius) * 2.0f;
}

int IncomingImage::AlphaAt(float distance, int flightRadius)
{
    if (flightRadius <= 0 || distance >= static_cast<float>(flightRadius)) return 255;
    // NOTE: inside the radius the picture is drawn at up to twice its size,
    // which would ask for alphas up to 382; they are held at full opacity so
    // the picture fades steadily instead of flickering as the byte wraps.
    return std::min(static_cast<int>(ScaleAt(distance, flightRadius) * 191.25f), 255);
}

RECT IncomingImage::SourceRect() const
{
    // The bottom eight rows of a received picture are left out.
    return atlas != nullptr ? atlas->PictureRect(cell, 120) : RECT{0, 0, kPictureSize, 120};
}

void IncomingImage::Draw(IDirect3DDevice9*) { DrawWith(sprite); }

void IncomingImage::DrawWith(ID3DXSprite* through) const
{
    if (!active || through == nullptr || atlas == nullptr) return;
    const RECT source = SourceRect();
    const float distance = Distance();
    const float s = ScaleAt(distance, radius);
    const D3DXVECTOR2 scaling(s, s);
    const D3DCOLOR colour = D3DCOLOR_ARGB(static_cast<unsigned>(AlphaAt(distance, radius)), tint.red, tint.green,
                                          tint.blue);
    through->Draw(atlas->Texture(), &source, &scaling, nullptr, 0.0f, &position, colour);
}
