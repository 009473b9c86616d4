// The operator's panels drawn through the device: what the recording device
// sees, and that the scene's states are left as they were.
#include <gtest/gtest.h>
#include <imgui.h>

#include <cstring>

#include "render/OverlayRenderer.h"
#include "support/DeviceTestSupport.h"

namespace {

constexpr const char* kFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
constexpr DWORD kOverlayFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;

class OverlayRendererTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        *device.out() = testsupport::NewRecordingDevice();
        ASSERT_TRUE(device);
        ASSERT_TRUE(overlay.Create(device.get(), kFont, 13.0f, 640, 480));
    }
    // A frame with one line of text and one filled box.
    void DrawFrame()
    {
        overlay.Begin(0.05f);
        ImGui::GetForegroundDrawList()->AddRectFilled(ImVec2(100, 100), ImVec2(200, 150), IM_COL32(255, 0, 0, 128));
        ImGui::GetForegroundDrawList()->AddText(ImVec2(10, 10), IM_COL32(255, 255, 255, 255), "no microphone");
        overlay.End(device.get());
    }

    testsupport::Ref<RecordingDevice> device;
    // Destroyed before the device: it holds the font texture.
    OverlayRenderer overlay;
};

TEST_F(OverlayRendererTest, DrawsAlphaBlendedScreenTrianglesWithoutDepth)
{
    device->ClearDraws();
    DrawFrame();
    ASSERT_FALSE(device->Draws().empty());
    bool sawRed = false;
    for (const RecordedDraw& draw : device->Draws()) {
        EXPECT_EQ(D3DPT_TRIANGLELIST, draw.type);
        EXPECT_EQ(kOverlayFvf, draw.fvf);
        EXPECT_EQ(draw.primitiveCount * 3, draw.indices.size());
        EXPECT_EQ(static_cast<DWORD>(TRUE), draw.state->RenderState(D3DRS_ALPHABLENDENABLE));
        EXPECT_EQ(static_cast<DWORD>(D3DZB_FALSE), draw.state->RenderState(D3DRS_ZENABLE));
        EXPECT_EQ(static_cast<DWORD>(FALSE), draw.state->RenderState(D3DRS_LIGHTING));
        EXPECT_EQ(static_cast<DWORD>(FALSE), draw.state->RenderState(D3DRS_FOGENABLE));
        EXPECT_NE(nullptr, draw.state->textures[0]);
        for (UINT v = 0; v < draw.VertexCount(); ++v) {
            // ImGui's RGBA colour arrives as Direct3D's ARGB.
            if (draw.DwordAt(v, 16) == 0x80FF0000u) sawRed = true;
            EXPECT_FLOAT_EQ(1.0f, draw.FloatAt(v, 12));  // rhw
        }
    }
    EXPECT_TRUE(sawRed);
}

TEST_F(OverlayRendererTest, LeavesEveryStateAsItFoundIt)
{
    // The scene's states as a crystal draw leaves them.
    device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    device->SetRenderState(D3DRS_FOGENABLE, TRUE);
    device->SetRenderState(D3DRS_LIGHTING, TRUE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    device->SetFVF(D3DFVF_XYZ | D3DFVF_NORMAL);
    const DeviceState before = device->State();
    DrawFrame();
    const DeviceState& after = device->State();
    EXPECT_EQ(0, std::memcmp(before.renderStates, after.renderStates, sizeof before.renderStates));
    EXPECT_EQ(0, std::memcmp(before.stageStates, after.stageStates, sizeof before.stageStates));
    EXPECT_EQ(0, std::memcmp(before.samplerStates, after.samplerStates, sizeof before.samplerStates));
    EXPECT_EQ(before.textures[0], after.textures[0]);
    EXPECT_EQ(before.fvf, after.fvf);
}

TEST_F(OverlayRendererTest, AnEmptyFrameDrawsNothingAndAMissingFontFallsBack)
{
    device->ClearDraws();
    overlay.Begin(0.05f);
    overlay.End(device.get());
    EXPECT_TRUE(device->Draws().empty());

    OverlayRenderer fallback;
    ASSERT_TRUE(fallback.Create(device.get(), "/nonexistent/font.ttf", 13.0f, 640, 480));
    fallback.Begin(0.05f);
    ImGui::GetForegroundDrawList()->AddText(ImVec2(10, 10), IM_COL32(255, 255, 255, 255), "text");
    fallback.End(device.get());
    EXPECT_FALSE(device->Draws().empty());
}

}  // namespace
