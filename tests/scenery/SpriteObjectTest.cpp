// The sprite object base: creation and registration, drawing through the
// sprite, and loss handling.
#include <gtest/gtest.h>

#include "platform/d3d9/RecordingDevice.h"
#include "render/RenderDevice.h"
#include "scenery/SpriteObject.h"
#include "scenery/TextureHolder.h"
#include "support/DeviceTestSupport.h"

namespace {

class SpriteObjectTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        device = testsupport::CreateRecordingDevice(renderer);
        ASSERT_NE(device, nullptr);
        ASSERT_TRUE(holder.CreateDynamic(nullptr, device, 64, 64));
    }

    RenderDevice renderer;
    RecordingDevice* device = nullptr;
    TextureHolder holder;
};

TEST_F(SpriteObjectTest, CreateRegistersOnceWithTheRenderDevice)
{
    SpriteObject object;
    ASSERT_TRUE(object.Create(&holder, &renderer));
    EXPECT_NE(object.Sprite(), nullptr);
    EXPECT_EQ(object.Holder(), &holder);
    EXPECT_EQ(renderer.Resources().Count(), 1);
    EXPECT_EQ(renderer.Resources()[0], &object);
    ASSERT_TRUE(object.Create(&holder, &renderer));
    EXPECT_EQ(renderer.Resources().Count(), 1);
    renderer.ReleaseAll();
}

TEST_F(SpriteObjectTest, CreateWithoutADeviceFailsAndChangesNothing)
{
    RenderDevice empty;
    SpriteObject object;
    EXPECT_FALSE(object.Create(&holder, &empty));
    EXPECT_EQ(object.Sprite(), nullptr);
    EXPECT_EQ(object.Holder(), nullptr);
    EXPECT_EQ(empty.Resources().Count(), 0);
}

TEST_F(SpriteObjectTest, DrawDrawsTheHoldersTextureBetweenBeginAndEnd)
{
    SpriteObject object;
    ASSERT_TRUE(object.Create(&holder, &renderer));
    D3DXVECTOR2 position(100.0f, 50.0f);
    EXPECT_EQ(object.Draw(nullptr, nullptr, nullptr, nullptr, 0.0f, &position, 0xFFFFFFFF), D3D_OK);
    ASSERT_EQ(device->Draws().size(), 1u);
    EXPECT_EQ(device->Draws()[0].state->textures[0], holder.texture);
    EXPECT_FLOAT_EQ(device->Draws()[0].FloatAt(2, 0), 164.0f);
    EXPECT_EQ(device->State().textures[0], nullptr) << "the sprite restored the stage";
    // Begin fails while another Begin is open: the code comes back and nothing is drawn.
    object.Sprite()->Begin();
    EXPECT_EQ(object.Draw(nullptr, nullptr, nullptr, nullptr, 0.0f, &position, 0xFFFFFFFF), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->Draws().size(), 1u);
    object.Sprite()->End();
    renderer.ReleaseAll();
}

TEST_F(SpriteObjectTest, DrawWithoutCreateIsRefused)
{
    SpriteObject object;
    EXPECT_EQ(object.Draw(nullptr, nullptr, nullptr, nullptr, 0.0f, nullptr, 0xFFFFFFFF), D3DERR_INVALIDCALL);
}

TEST_F(SpriteObjectTest, SurvivesTheLossProtocol)
{
    SpriteObject object;
    ASSERT_TRUE(object.Create(&holder, &renderer));
    object.Sprite()->Begin();
    device->SimulateLoss(D3DERR_DEVICELOST, D3DERR_DEVICENOTRESET);
    ASSERT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
    ASSERT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    EXPECT_TRUE(renderer.ResetDevice());
    EXPECT_TRUE(renderer.Resize(nullptr));
    // The loss ended the open Begin; drawing works again.
    EXPECT_EQ(object.Draw(nullptr, nullptr, nullptr, nullptr, 0.0f, nullptr, 0xFFFFFFFF), D3D_OK);
    renderer.ReleaseAll();
}

}  // namespace
