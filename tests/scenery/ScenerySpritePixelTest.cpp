// Texture holders drawn through sprite objects on the OpenGL backend: a
// received picture shows its first pixel at the top-left corner, unflipped,
// a loaded picture keeps its colours, and a picture drawn from its cell of
// the shared picture texture looks as it did from a texture of its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "render/RenderDevice.h"
#include "scenery/PictureAtlas.h"
#include "scenery/SpriteObject.h"
#include "scenery/TextureHolder.h"
#include "support/DeviceTestSupport.h"
#include "support/GlTestDevice.h"
#include "support/OffscreenRenderTest.h"
#include "support/PixelStorePixels.h"

using testsupport::Frame;
using testsupport::ReadFrame;

namespace {

class ScenerySpritePixelTest : public testsupport::OffscreenRenderTest {
protected:
    void SetUp() override
    {
        OffscreenRenderTest::SetUp();
        if (device == nullptr) return;
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    }
};

TEST_F(ScenerySpritePixelTest, ReceivedPictureShowsItsFirstPixelTopLeft)
{
    TextureHolder picture;
    ASSERT_TRUE(picture.CreateDynamic(nullptr, device, 128, 128));
    testsupport::PutPixel(picture, 0, 0, 10, 20, 30);
    testsupport::PutPixel(picture, 0, 127, 200, 0, 0);  // bottom-left pixel, red
    ASSERT_TRUE(picture.Upload(device, 0, 0, 128, 128));

    SpriteObject sprite;
    ASSERT_TRUE(sprite.Create(&picture, &renderer));
    D3DXVECTOR2 position(0.0f, 0.0f);
    ASSERT_EQ(sprite.Draw(nullptr, nullptr, nullptr, nullptr, 0.0f, &position, 0xFFFFFFFF), D3D_OK);
    Frame f = ReadFrame(device);
    testsupport::KeepFrame(f, "dynamic_texture");
    EXPECT_EQ(f.R(0, 0), 10);
    EXPECT_EQ(f.G(0, 0), 20);
    EXPECT_EQ(f.B(0, 0), 30);
    EXPECT_EQ(f.R(0, 127), 200);
    EXPECT_EQ(f.R(1, 1), 0);
    renderer.ReleaseAll();
}

TEST_F(ScenerySpritePixelTest, LoadedPictureIsTintedByTheSpriteColour)
{
    const std::string path = testsupport::TempDir() + "/copyright.png";
    ASSERT_TRUE(testsupport::WriteSolidPng(path, 256, 64, 200, 100, 50, 255));
    TextureHolder picture;
    ASSERT_TRUE(picture.LoadFromFile(device, path.c_str()));
    SpriteObject sprite;
    ASSERT_TRUE(sprite.Create(&picture, &renderer));
    // The copyright's place: the bottom-right corner of the screen.
    D3DXVECTOR2 position(640 - 256, 480 - 64);
    sprite.Draw(nullptr, nullptr, nullptr, nullptr, 0.0f, &position, 0xFF808080);
    Frame f = ReadFrame(device);
    EXPECT_NEAR(f.R(639, 479), 100, 1);
    EXPECT_NEAR(f.G(400, 420), 50, 1);
    EXPECT_EQ(f.R(383, 479), 0);
    EXPECT_EQ(f.R(639, 415), 0);
    renderer.ReleaseAll();
}

// Each picture of the pool is drawn from its cell, between neighbours of
// glaring white, at the sizes and places a flight gives it (fractional
// corners, magnified and shrunk); the same picture drawn from a 128x128
// texture of its own must give the same pixels. A neighbour's texel filtered
// in at a border would show as a bright seam.
TEST_F(ScenerySpritePixelTest, APictureFromItsAtlasCellLooksAsFromItsOwnTexture)
{
    PictureAtlas atlas;
    ASSERT_TRUE(atlas.Create(nullptr, device, 48));
    std::vector<std::uint8_t> white(128 * 128 * 3, 255);
    for (int cell = 0; cell < 48; ++cell) ASSERT_TRUE(atlas.Store(device, cell, white.data()));
    // A dark picture with a bright frame line two pixels in and a ramp.
    std::vector<std::uint8_t> picture(128 * 128 * 3);
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x) {
            std::uint8_t* p = &picture[(static_cast<std::size_t>(y) * 128 + x) * 3];
            const bool line = x == 2 || y == 2 || x == 125 || y == 117;
            p[0] = static_cast<std::uint8_t>(line ? 200 : x);
            p[1] = static_cast<std::uint8_t>(line ? 40 : y);
            p[2] = static_cast<std::uint8_t>(line ? 90 : 20);
        }
    const int cell = 9;  // neighbours on all four sides
    ASSERT_TRUE(atlas.Store(device, cell, picture.data()));
    TextureHolder own;
    ASSERT_TRUE(own.CreateDynamic(nullptr, device, 128, 128));
    std::copy(picture.begin(), picture.end(), own.pixelStore->colour.begin());
    ASSERT_TRUE(own.Upload(device, 0, 0, 128, 128));

    SpriteObject fromAtlas, fromOwn;
    ASSERT_TRUE(fromAtlas.Create(&atlas.Holder(), &renderer));
    ASSERT_TRUE(fromOwn.Create(&own, &renderer));
    struct Placement {
        float x, y, scale;
    };
    const Placement placements[] = {{10.25f, 7.5f, 1.0f}, {200.6f, 30.3f, 1.93f}, {40.0f, 250.0f, 0.37f},
                                    {470.4f, 300.7f, 1.21f}, {300.0f, 400.0f, 0.08f}};
    const RECT ownRect{0, 0, 128, 120};
    const RECT cellRect = atlas.PictureRect(cell, 120);
    auto drawAll = [&](SpriteObject& sprite, const RECT& source) {
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
        device->BeginScene();
        for (const Placement& at : placements) {
            const D3DXVECTOR2 scaling(at.scale, at.scale), position(at.x, at.y);
            sprite.Draw(nullptr, &source, &scaling, nullptr, 0.0f, &position, 0xE0FFD0B0);
        }
        device->EndScene();
        return ReadFrame(device);
    };
    const Frame expected = drawAll(fromOwn, ownRect);
    const Frame drawn = drawAll(fromAtlas, cellRect);
    testsupport::KeepFrame(drawn, "picture_from_atlas");
    ASSERT_EQ(expected.rgb.size(), drawn.rgb.size());
    int worst = 0, lit = 0;
    for (std::size_t i = 0; i < drawn.rgb.size(); ++i) {
        worst = std::max(worst, std::abs(drawn.rgb[i] - expected.rgb[i]));
        lit += expected.rgb[i] > 0;
    }
    EXPECT_GT(lit, 30000);
    EXPECT_LE(worst, 1) << "the picture from its cell differs from the picture alone";
    renderer.ReleaseAll();
}

}  // namespace
