// Texture holders drawn through sprite objects on the OpenGL backend: a
// received picture shows its first pixel at the top-left corner, unflipped,
// and a loaded picture keeps its colours.
#include <gtest/gtest.h>

#include "render/RenderDevice.h"
#include "scenery/SpriteObject.h"
#include "scenery/TextureHolder.h"
#include "support/DeviceTestSupport.h"
#include "support/GlTestDevice.h"

using testsupport::Frame;
using testsupport::ReadFrame;

namespace {

class ScenerySpritePixelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string reason;
        window = testsupport::OffscreenGlWindow(&reason);
        if (window == nullptr) GTEST_SKIP() << "no OpenGL here: " << reason;
        ASSERT_TRUE(renderer.CreateDevice(window, 640, 480, false));
        device = renderer.Device();
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    }

    HWND window = nullptr;
    RenderDevice renderer;
    IDirect3DDevice9* device = nullptr;
};

TEST_F(ScenerySpritePixelTest, ReceivedPictureShowsItsFirstPixelTopLeft)
{
    TextureHolder picture;
    ASSERT_TRUE(picture.CreateDynamic(nullptr, device, 128, 128));
    std::uint8_t* colour = picture.pixelStore->colour.data();
    colour[0] = 10;
    colour[1] = 20;
    colour[2] = 30;
    std::uint8_t* lastRow = colour + 127 * 128 * 3;
    lastRow[0] = 200;  // bottom-left pixel, red
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

}  // namespace
