// Real frames from the render device on the OpenGL backend (Mesa's software
// rasteriser): the fade quad, the default fog and the default light.
#include <gtest/gtest.h>

#include <cmath>

#include "platform/d3d9/d3dx9.h"
#include "render/RenderDevice.h"
#include "render/ScreenFade.h"
#include "support/GlTestDevice.h"

using testsupport::Frame;
using testsupport::ReadFrame;

namespace {

class RenderPixelTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        std::string reason;
        window_ = testsupport::OffscreenGlWindow(&reason);
        if (window_ == nullptr) {
            skipReason_ = new std::string(reason);
            return;
        }
        renderer_ = new RenderDevice();
        created_ = renderer_->CreateDevice(window_, 640, 480, false);
    }
    static void TearDownTestSuite()
    {
        delete renderer_;
        renderer_ = nullptr;
    }

    void SetUp() override
    {
        if (skipReason_ != nullptr) GTEST_SKIP() << "no OpenGL here: " << *skipReason_;
        ASSERT_TRUE(created_) << "an OpenGL context works, yet the render device could not be created";
        // Every test starts from the installation's default state.
        renderer_->Resize(window_);
        device = renderer_->Device();
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    }

    // Screen position of a scene point under the current transforms.
    D3DXVECTOR3 ToScreen(const D3DXVECTOR3& p) const
    {
        D3DMATRIX world, view, projection;
        device->GetTransform(D3DTS_WORLD, &world);
        device->GetTransform(D3DTS_VIEW, &view);
        device->GetTransform(D3DTS_PROJECTION, &projection);
        D3DXMATRIX all = D3DXMATRIX(world) * D3DXMATRIX(view) * D3DXMATRIX(projection);
        D3DXVECTOR3 ndc;
        D3DXVec3TransformCoord(&ndc, &p, &all);
        return D3DXVECTOR3((ndc.x + 1.0f) * 320.0f, (1.0f - ndc.y) * 240.0f, ndc.z);
    }

    struct SceneVertex {
        float x, y, z;
        float nx, ny, nz;
    };

    // A square of half size h around c, spanned by the axes a and b, with one normal.
    void Square(const D3DXVECTOR3& c, const D3DXVECTOR3& a, const D3DXVECTOR3& b, float h, const D3DXVECTOR3& n)
    {
        const D3DXVECTOR3 p[4] = {c - a * h - b * h, c + a * h - b * h, c + a * h + b * h, c - a * h + b * h};
        SceneVertex v[4];
        for (int i = 0; i < 4; ++i) v[i] = {p[i].x, p[i].y, p[i].z, n.x, n.y, n.z};
        device->SetFVF(D3DFVF_XYZ | D3DFVF_NORMAL);
        device->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 2, v, sizeof(SceneVertex));
    }

    static HWND window_;
    static RenderDevice* renderer_;
    static bool created_;
    static std::string* skipReason_;
    IDirect3DDevice9* device = nullptr;
};

HWND RenderPixelTest::window_ = nullptr;
RenderDevice* RenderPixelTest::renderer_ = nullptr;
bool RenderPixelTest::created_ = false;
std::string* RenderPixelTest::skipReason_ = nullptr;

TEST_F(RenderPixelTest, UniformFadeAtFullAlphaTurnsEveryPixelWhite)
{
    ScreenFade fade;
    fade.Init(nullptr, device, 640, 480);
    device->BeginScene();
    fade.DrawUniform(device, 255);
    device->EndScene();
    Frame f = ReadFrame(device);
    testsupport::KeepFrame(f, "fade_uniform_255");
    int notWhite = 0;
    for (std::size_t i = 0; i < f.rgb.size(); ++i) notWhite += f.rgb[i] != 255;
    EXPECT_EQ(notWhite, 0);
}

TEST_F(RenderPixelTest, UniformFadeAtZeroChangesNothing)
{
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF336699, 1.0f, 0);
    ScreenFade fade;
    fade.Init(nullptr, device, 640, 480);
    fade.DrawUniform(device, 0);
    Frame f = ReadFrame(device);
    int changed = 0;
    for (UINT y = 0; y < 480; ++y)
        for (UINT x = 0; x < 640; ++x) changed += f.R(x, y) != 0x33 || f.G(x, y) != 0x66 || f.B(x, y) != 0x99;
    EXPECT_EQ(changed, 0);
}

TEST_F(RenderPixelTest, GradientFadeIsOpaqueOnTheLeftAndHalfOnTheRight)
{
    ScreenFade fade;
    fade.Init(nullptr, device, 640, 480);
    fade.DrawGradient(device, 128);
    Frame f = ReadFrame(device);
    testsupport::KeepFrame(f, "fade_gradient_128");
    for (UINT y = 0; y < 480; y += 7) {
        EXPECT_EQ(f.R(0, y), 255) << "row " << y;
        EXPECT_NEAR(f.R(639, y), 128, 2) << "row " << y;
        EXPECT_EQ(f.R(639, y), f.B(639, y)) << "white stays white";
    }
    // Halfway the alpha is about (255 + 128) / 2.
    EXPECT_NEAR(f.G(320, 240), 191, 3);
}

TEST_F(RenderPixelTest, FogHidesFarGeometryAndSparesNearGeometry)
{
    // Unlit white squares facing the camera, which looks from (0, 120, -120) at the origin.
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    const D3DXVECTOR3 eye(0.0f, 120.0f, -120.0f);
    const D3DXVECTOR3 forward(0.0f, -0.70710678f, 0.70710678f);
    const D3DXVECTOR3 right(1.0f, 0.0f, 0.0f), up(0.0f, 0.70710678f, 0.70710678f);
    const D3DXVECTOR3 nearCentre = eye + forward * 60.0f + right * -10.0f;   // before the fog start (110)
    const D3DXVECTOR3 farCentre = eye + forward * 400.0f + right * 100.0f;   // past the fog end (280)
    Square(nearCentre, right, up, 4.0f, D3DXVECTOR3(0, 0, -1));
    Square(farCentre, right, up, 30.0f, D3DXVECTOR3(0, 0, -1));
    Frame f = ReadFrame(device);
    testsupport::KeepFrame(f, "fog_near_far");

    D3DXVECTOR3 n = ToScreen(nearCentre), fa = ToScreen(farCentre);
    const UINT nx = static_cast<UINT>(n.x), ny = static_cast<UINT>(n.y);
    const UINT fx = static_cast<UINT>(fa.x), fy = static_cast<UINT>(fa.y);
    EXPECT_EQ(f.R(nx, ny), 255);
    EXPECT_EQ(f.G(nx, ny), 255);
    EXPECT_EQ(f.B(nx, ny), 255);
    EXPECT_EQ(f.R(fx, fy), 0);
    EXPECT_EQ(f.G(fx, fy), 0);
    EXPECT_EQ(f.B(fx, fy), 255);
    // The background stays black: fog colours geometry only.
    EXPECT_EQ(f.B(5, 5), 0);
}

TEST_F(RenderPixelTest, FaceTowardsTheLightIsBrighterThanFaceAway)
{
    // Two horizontal squares seen from above; only their normals differ.
    device->SetRenderState(D3DRS_FOGENABLE, FALSE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    const D3DXVECTOR3 x(1, 0, 0), z(0, 0, 1);
    const D3DXVECTOR3 litCentre(-30, 0, 0), darkCentre(30, 0, 0);
    Square(litCentre, x, z, 10.0f, D3DXVECTOR3(0, 1, 0));   // faces the light, which shines downwards
    Square(darkCentre, x, z, 10.0f, D3DXVECTOR3(0, -1, 0));
    Frame f = ReadFrame(device);
    testsupport::KeepFrame(f, "light_towards_away");
    D3DXVECTOR3 lit = ToScreen(litCentre), dark = ToScreen(darkCentre);
    const int litLevel = f.G(static_cast<UINT>(lit.x), static_cast<UINT>(lit.y));
    const int darkLevel = f.G(static_cast<UINT>(dark.x), static_cast<UINT>(dark.y));
    EXPECT_GT(litLevel, darkLevel + 100);
    // Facing away keeps only the ambient part: material 0.1 x (0x88 global + 0.5 light) ~ 26.
    EXPECT_NEAR(darkLevel, 26, 3);
    EXPECT_EQ(litLevel, 255);
}

TEST_F(RenderPixelTest, BatchesStayFewForAFrameOfManySmallDraws)
{
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->BeginScene();
    for (int i = 0; i < 5000; ++i) {
        const float a = static_cast<float>(i) * 0.01f;
        Square(D3DXVECTOR3(std::cos(a) * 12.0f, static_cast<float>(i % 50), std::sin(a) * 12.0f),
               D3DXVECTOR3(1, 0, 0), D3DXVECTOR3(0, 1, 0), 0.5f, D3DXVECTOR3(0, 0, -1));
    }
    device->EndScene();
    device->Present(nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(device->LastFrameStats().immediateCalls, 5000u);
    EXPECT_LE(device->LastFrameStats().gpuDraws, 2u);
}

}  // namespace
