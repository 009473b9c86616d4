// The fade quad on the recording device: its vertices, colours, the states
// in force at its draw and the states it leaves behind.
#include <gtest/gtest.h>

#include "platform/d3d9/RecordingDevice.h"
#include "render/RenderDevice.h"
#include "render/ScreenFade.h"
#include "support/DeviceTestSupport.h"

namespace {

class ScreenFadeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        device = testsupport::CreateRecordingDevice(renderer);
        ASSERT_NE(device, nullptr);
        fade.Init(nullptr, device, 640, 480);
    }

    const RecordedDraw& OnlyDraw() const
    {
        EXPECT_EQ(device->Draws().size(), 1u);
        return device->Draws().back();
    }
    DWORD ColourOf(UINT vertex) const { return OnlyDraw().DwordAt(vertex, 16); }

    RenderDevice renderer;
    RecordingDevice* device = nullptr;
    ScreenFade fade;
};

TEST_F(ScreenFadeTest, InitBuildsTheQuadOverTheLogicalScreen)
{
    const ScreenFade::Vertex* v = fade.Vertices();
    const float expected[4][4] = {{0, 0, 0, 0}, {0, 480, 0, 1}, {640, 480, 1, 1}, {640, 0, 1, 0}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_FLOAT_EQ(v[i].x, expected[i][0]);
        EXPECT_FLOAT_EQ(v[i].y, expected[i][1]);
        EXPECT_FLOAT_EQ(v[i].z, 0.0f);
        EXPECT_FLOAT_EQ(v[i].rhw, 1.0f);
        EXPECT_EQ(v[i].colour, 0xFFFFFFFFu);
        EXPECT_FLOAT_EQ(v[i].u, expected[i][2]);
        EXPECT_FLOAT_EQ(v[i].v, expected[i][3]);
    }
}

TEST_F(ScreenFadeTest, QuadFollowsTheSizeGivenToInitNotTheBackBuffer)
{
    ScreenFade small;
    small.Init(nullptr, device, 320, 200);
    small.DrawUniform(device, 255);
    const RecordedDraw& draw = OnlyDraw();
    EXPECT_FLOAT_EQ(draw.FloatAt(2, 0), 320.0f);
    EXPECT_FLOAT_EQ(draw.FloatAt(2, 4), 200.0f);
}

TEST_F(ScreenFadeTest, UniformDrawIsOneFanOfTwoTrianglesWithTheAlpha)
{
    fade.DrawUniform(device, 255);
    const RecordedDraw& draw = OnlyDraw();
    EXPECT_EQ(draw.type, D3DPT_TRIANGLEFAN);
    EXPECT_EQ(draw.primitiveCount, 2u);
    EXPECT_EQ(draw.stride, 28u);
    EXPECT_EQ(draw.fvf, 0x144u);
    for (UINT i = 0; i < 4; ++i) EXPECT_EQ(ColourOf(i), 0xFFFFFFFFu);

    device->ClearDraws();
    fade.DrawUniform(device, 0);
    for (UINT i = 0; i < 4; ++i) EXPECT_EQ(ColourOf(i), 0x00FFFFFFu);
}

TEST_F(ScreenFadeTest, GradientDoublesTheAlphaOnTheLeftEdge)
{
    fade.DrawGradient(device, 128);
    EXPECT_EQ(ColourOf(0), 0xFFFFFFFFu);
    EXPECT_EQ(ColourOf(1), 0xFFFFFFFFu);
    EXPECT_EQ(ColourOf(2), 0x80FFFFFFu);
    EXPECT_EQ(ColourOf(3), 0x80FFFFFFu);

    device->ClearDraws();
    fade.DrawGradient(device, 100);
    EXPECT_EQ(ColourOf(0), 0xC8FFFFFFu);  // 200
    EXPECT_EQ(ColourOf(3), 0x64FFFFFFu);  // 100
}

TEST_F(ScreenFadeTest, AlphaOutsideItsRangeCannotSpillIntoTheColour)
{
    fade.DrawUniform(device, 300);
    EXPECT_EQ(ColourOf(0), 0xFFFFFFFFu);
    device->ClearDraws();
    fade.DrawUniform(device, -4);
    EXPECT_EQ(ColourOf(0), 0x00FFFFFFu);
}

TEST_F(ScreenFadeTest, DrawsUnlitUnfoggedBlendedWithoutDepthOrTexture)
{
    fade.DrawUniform(device, 128);
    const DeviceState& s = *OnlyDraw().state;
    EXPECT_EQ(s.textures[0], nullptr);
    testsupport::ExpectRenderStates(s, {{D3DRS_CULLMODE, D3DCULL_CW}, {D3DRS_LIGHTING, FALSE},
                                        {D3DRS_ZWRITEENABLE, FALSE}, {D3DRS_ALPHABLENDENABLE, TRUE},
                                        {D3DRS_SRCBLEND, D3DBLEND_SRCALPHA}, {D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA},
                                        {D3DRS_ZFUNC, D3DCMP_ALWAYS}, {D3DRS_FOGENABLE, FALSE}});
}

TEST_F(ScreenFadeTest, LeavesDefaultsBehindExceptClockwiseCulling)
{
    // States that a previous drawing may have left otherwise.
    device->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    device->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    fade.DrawGradient(device, 64);

    const DeviceState& s = device->State();
    testsupport::ExpectRenderStates(s, {{D3DRS_FOGENABLE, TRUE}, {D3DRS_LIGHTING, TRUE}, {D3DRS_ZWRITEENABLE, TRUE},
                                        {D3DRS_ZENABLE, D3DZB_TRUE}, {D3DRS_ZFUNC, D3DCMP_LESSEQUAL},
                                        {D3DRS_ALPHABLENDENABLE, FALSE}});
    EXPECT_EQ(s.StageState(0, D3DTSS_ALPHAOP), static_cast<DWORD>(D3DTOP_DISABLE));
    EXPECT_EQ(s.SamplerState(0, D3DSAMP_ADDRESSU), static_cast<DWORD>(D3DTADDRESS_WRAP));
    EXPECT_EQ(s.SamplerState(0, D3DSAMP_ADDRESSV), static_cast<DWORD>(D3DTADDRESS_WRAP));
    EXPECT_EQ(s.RenderState(D3DRS_CULLMODE), static_cast<DWORD>(D3DCULL_CW));
    EXPECT_EQ(s.fvf, ScreenFade::kFvf);
}

}  // namespace
