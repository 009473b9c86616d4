// The OpenGL device on Mesa's software rasteriser: read-back, clearing,
// culling, depth, textures drawn 1:1 and rewritten in part, point sprites,
// the sprite's footprint, batching counts and the simulated loss. Pixel values are checked on real frames.
#include <gtest/gtest.h>

#include <SDL.h>

#include <cstring>

#include "platform/gl/GlDevice.h"
#include "platform/system/messages.h"
#include "platform/d3d9/SavedDeviceState.h"
#include "platform/d3d9/d3dx9.h"
#include "support/DeviceTestSupport.h"
#include "support/GlTestDevice.h"

using testsupport::Frame;
using testsupport::ReadFrame;
using testsupport::Ref;

namespace {

constexpr DWORD kScreenFvf = ScreenVertexFormat;

class GlDeviceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        std::string reason;
        if (testsupport::OffscreenGlWindow(&reason) == nullptr) {
            skipReason_ = new std::string(reason);
            return;
        }
        device_ = testsupport::NewGlDevice();
    }
    static void TearDownTestSuite()
    {
        if (device_ != nullptr) device_->Release();
        device_ = nullptr;
    }

    void SetUp() override
    {
        if (skipReason_ != nullptr) GTEST_SKIP() << "no OpenGL here: " << *skipReason_;
        ASSERT_NE(device_, nullptr) << "an OpenGL context works, yet the device could not be built";
        D3DPRESENT_PARAMETERS pp = testsupport::FullScreenParameters();
        ASSERT_EQ(device_->Reset(&pp), D3D_OK);
        device = device_;
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    }

    void Quad(float x0, float y0, float x1, float y1, float z, DWORD colour)
    {
        ScreenVertex v[4] = {{x0, y0, z, 1, colour, 0, 0},
                             {x1, y0, z, 1, colour, 1, 0},
                             {x1, y1, z, 1, colour, 1, 1},
                             {x0, y1, z, 1, colour, 0, 1}};
        device->SetFVF(kScreenFvf);
        device->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 2, v, sizeof(ScreenVertex));
    }

    static IDirect3DDevice9* device_;
    static std::string* skipReason_;
    IDirect3DDevice9* device = nullptr;
};

IDirect3DDevice9* GlDeviceTest::device_ = nullptr;
std::string* GlDeviceTest::skipReason_ = nullptr;

TEST_F(GlDeviceTest, ClearsTheBackBufferAndReadsItBackTopRowFirst)
{
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF102030, 1.0f, 0);
    D3DRECT top{0, 0, 640, 10};
    device->Clear(1, &top, D3DCLEAR_TARGET, 0xFFFF0000, 1.0f, 0);
    Frame f = ReadFrame(device);
    ASSERT_EQ(f.width, 640u);
    ASSERT_EQ(f.height, 480u);
    EXPECT_EQ(f.R(5, 5), 255);
    EXPECT_EQ(f.G(5, 5), 0);
    EXPECT_EQ(f.R(5, 10), 0x10);
    EXPECT_EQ(f.G(639, 479), 0x20);
    EXPECT_EQ(f.B(639, 479), 0x30);
}

TEST_F(GlDeviceTest, CullsCounterClockwiseFacesByDefault)
{
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    // Clockwise on the screen: drawn.
    ScreenVertex cw[3] = {{10, 10, 0, 1, 0xFFFFFFFF, 0, 0}, {110, 10, 0, 1, 0xFFFFFFFF, 0, 0},
                          {10, 110, 0, 1, 0xFFFFFFFF, 0, 0}};
    // Counter-clockwise: culled.
    ScreenVertex ccw[3] = {{210, 10, 0, 1, 0xFFFFFFFF, 0, 0}, {210, 110, 0, 1, 0xFFFFFFFF, 0, 0},
                           {310, 10, 0, 1, 0xFFFFFFFF, 0, 0}};
    device->SetFVF(kScreenFvf);
    device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, cw, sizeof(ScreenVertex));
    device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, ccw, sizeof(ScreenVertex));
    Frame f = ReadFrame(device);
    EXPECT_EQ(f.R(20, 20), 255);
    EXPECT_EQ(f.R(220, 20), 0);

    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
    device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, ccw, sizeof(ScreenVertex));
    EXPECT_EQ(ReadFrame(device).R(220, 20), 255);
}

TEST_F(GlDeviceTest, NearerGeometryWinsWhateverTheOrder)
{
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    Quad(0, 0, 100, 100, 0.2f, 0xFF00FF00);  // near, green
    Quad(50, 50, 150, 150, 0.6f, 0xFFFF0000);  // far, red, drawn later
    Frame f = ReadFrame(device);
    EXPECT_EQ(f.G(75, 75), 255);
    EXPECT_EQ(f.R(75, 75), 0);
    EXPECT_EQ(f.R(125, 125), 255);
}

// Frames of nothing but a full clear may skip the clear and the copy to the
// window while the image stays the same; what is read back must not change.
TEST_F(GlDeviceTest, PlainFramesReadBackTheirClearAfterDrawnOnes)
{
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    Quad(0, 0, 100, 100, 0.2f, 0xFF00FF00);
    ASSERT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    for (int frame = 0; frame < 3; ++frame) {
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
        Frame f = ReadFrame(device);
        EXPECT_EQ(f.G(50, 50), 0) << "frame " << frame;
        ASSERT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    }
    // Another colour, then drawing over a clear that the back buffer already holds.
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF0000FF, 1.0f, 0);
    EXPECT_EQ(ReadFrame(device).B(300, 300), 255);
    ASSERT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF0000FF, 1.0f, 0);
    Quad(0, 0, 100, 100, 0.9f, 0xFFFF0000);
    Frame f = ReadFrame(device);
    EXPECT_EQ(f.R(50, 50), 255);
    EXPECT_EQ(f.B(300, 300), 255);
    EXPECT_EQ(f.R(300, 300), 0);
    ASSERT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    // The depth buffer is cleared too: a far quad shows after the near one's frame.
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF0000FF, 1.0f, 0);
    Quad(0, 0, 100, 100, 0.95f, 0xFF00FF00);
    EXPECT_EQ(ReadFrame(device).G(50, 50), 255);
}

TEST_F(GlDeviceTest, AlphaBlendingMixesWithTheBackground)
{
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    Quad(0, 0, 640, 480, 0.0f, 0x80FFFFFF);
    Frame f = ReadFrame(device);
    EXPECT_NEAR(f.R(320, 240), 128, 2);
}

TEST_F(GlDeviceTest, TextureDrawnOneToOneShowsItsTexelsUnflipped)
{
    Ref<IDirect3DTexture9> texture;
    ASSERT_EQ(D3DXCreateTexture(device, 64, 64, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, texture.out()), D3D_OK);
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
    auto* texels = static_cast<std::uint32_t*>(locked.pBits);
    for (int i = 0; i < 64 * 64; ++i) texels[i] = 0xFF000000;
    texels[0] = 0xFF0A141E;            // top left
    texels[63 * 64] = 0xFFC80000;      // bottom left, red
    texture->UnlockRect(0);

    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetTexture(0, texture.get());
    device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    Quad(100, 100, 164, 164, 0.0f, 0xFFFFFFFF);
    device->SetTexture(0, nullptr);
    Frame f = ReadFrame(device);
    EXPECT_EQ(f.R(100, 100), 10);
    EXPECT_EQ(f.G(100, 100), 20);
    EXPECT_EQ(f.B(100, 100), 30);
    EXPECT_EQ(f.R(100, 163), 200);
    EXPECT_EQ(f.R(101, 100), 0);
}

TEST_F(GlDeviceTest, ChangedTexelsReachTheScreen)
{
    Ref<IDirect3DTexture9> texture;
    ASSERT_EQ(D3DXCreateTexture(device, 4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, texture.out()), D3D_OK);
    auto fill = [&](std::uint32_t value) {
        D3DLOCKED_RECT locked{};
        texture->LockRect(0, &locked, nullptr, 0);
        for (int i = 0; i < 16; ++i) static_cast<std::uint32_t*>(locked.pBits)[i] = value;
        texture->UnlockRect(0);
    };
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetTexture(0, texture.get());
    fill(0xFF00FF00);
    Quad(0, 0, 50, 50, 0.0f, 0xFFFFFFFF);
    EXPECT_EQ(ReadFrame(device).G(25, 25), 255);
    fill(0xFF0000FF);
    Quad(0, 0, 50, 50, 0.0f, 0xFFFFFFFF);
    Frame f = ReadFrame(device);
    EXPECT_EQ(f.G(25, 25), 0);
    EXPECT_EQ(f.B(25, 25), 255);
    device->SetTexture(0, nullptr);
}

// A rectangle written into a texture that was drawn before reaches the
// screen, and the texels around it stay as they were.
TEST_F(GlDeviceTest, ARectangleWrittenIntoADrawnTextureReachesTheScreen)
{
    Ref<IDirect3DTexture9> texture;
    ASSERT_EQ(D3DXCreateTexture(device, 8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, texture.out()), D3D_OK);
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
    for (int i = 0; i < 64; ++i) static_cast<std::uint32_t*>(locked.pBits)[i] = 0xFF00FF00;
    texture->UnlockRect(0);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetTexture(0, texture.get());
    Quad(0, 0, 80, 80, 0.0f, 0xFFFFFFFF);
    ASSERT_EQ(ReadFrame(device).G(5, 5), 255);

    // Two rectangles, columns 2 to 3 of rows 1 to 2 and column 6 of row 5.
    const RECT first{2, 1, 4, 3}, second{6, 5, 7, 6};
    for (const RECT& r : {first, second}) {
        ASSERT_EQ(texture->LockRect(0, &locked, &r, 0), D3D_OK);
        for (LONG y = 0; y < r.bottom - r.top; ++y)
            for (LONG x = 0; x < r.right - r.left; ++x)
                reinterpret_cast<std::uint32_t*>(static_cast<std::uint8_t*>(locked.pBits) + y * locked.Pitch)[x] =
                    0xFF0000FF;
        texture->UnlockRect(0);
    }
    device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
    device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
    Quad(0, 0, 80, 80, 0.0f, 0xFFFFFFFF);
    device->SetTexture(0, nullptr);
    const Frame f = ReadFrame(device);
    for (int ty = 0; ty < 8; ++ty)
        for (int tx = 0; tx < 8; ++tx) {
            const bool written = (tx >= 2 && tx < 4 && ty >= 1 && ty < 3) || (tx == 6 && ty == 5);
            const UINT x = static_cast<UINT>(tx * 10 + 5), y = static_cast<UINT>(ty * 10 + 5);
            EXPECT_EQ(f.B(x, y), written ? 255 : 0) << tx << "," << ty;
            EXPECT_EQ(f.G(x, y), written ? 0 : 255) << tx << "," << ty;
        }
}

// Point sprites from a vertex buffer, each with its own side: a square of
// that side about the point, the texture across it; one narrower than a
// pixel lights a pixel only when it covers the pixel's centre, and one half
// off the screen shows its inner half.
TEST_F(GlDeviceTest, PointSpritesCoverTheSquareOfTheirSide)
{
    struct PointVertex {
        float x, y, z, rhw, side;
        DWORD colour;
    };
    constexpr DWORD kPointFvf = D3DFVF_XYZRHW | D3DFVF_PSIZE | D3DFVF_DIFFUSE;
    Ref<IDirect3DTexture9> texture;
    ASSERT_EQ(D3DXCreateTexture(device, 4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, texture.out()), D3D_OK);
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
    for (int i = 0; i < 16; ++i) static_cast<std::uint32_t*>(locked.pBits)[i] = 0xFFFFFFFF;
    static_cast<std::uint32_t*>(locked.pBits)[3] = 0xFFFF0000;  // top right: red
    texture->UnlockRect(0);

    const PointVertex points[] = {
        {10.0f, 10.0f, 0.0f, 1.0f, 4.0f, 0xFFFFFFFF},   // pixels 8..11 both ways
        {20.5f, 20.5f, 0.0f, 1.0f, 0.4f, 0xFFFFFFFF},   // on a pixel centre: that pixel
        {30.0f, 30.0f, 0.0f, 1.0f, 0.4f, 0xFFFFFFFF},   // between centres: nothing
        {-1.0f, 50.0f, 0.0f, 1.0f, 6.0f, 0xFFFFFFFF},   // half off the left edge: columns 0 and 1
        {100.0f, 100.0f, 0.0f, 1.0f, 0.0f, 0xFFFFFFFF},  // no side: nothing
    };
    Ref<IDirect3DVertexBuffer9> buffer;
    ASSERT_EQ(device->CreateVertexBuffer(sizeof points, D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, kPointFvf,
                                         D3DPOOL_DEFAULT, buffer.out(), nullptr),
              D3D_OK);
    void* bytes = nullptr;
    ASSERT_EQ(buffer->Lock(0, 0, &bytes, D3DLOCK_DISCARD), D3D_OK);
    std::memcpy(bytes, points, sizeof points);
    buffer->Unlock();

    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetRenderState(D3DRS_POINTSPRITEENABLE, TRUE);
    device->SetRenderState(D3DRS_POINTSIZE_MIN, 0);  // 0.0f
    device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
    device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
    device->SetTexture(0, texture.get());
    device->SetFVF(kPointFvf);
    device->SetStreamSource(0, buffer.get(), 0, sizeof(PointVertex));
    ASSERT_EQ(device->DrawPrimitive(D3DPT_POINTLIST, 0, 5), D3D_OK);
    device->SetStreamSource(0, nullptr, 0, 0);
    device->SetTexture(0, nullptr);
    device->SetRenderState(D3DRS_POINTSPRITEENABLE, FALSE);
    const Frame f = ReadFrame(device);
    testsupport::KeepFrame(f, "point_sprites");

    auto lit = [&](UINT x, UINT y) { return f.G(x, y) > 0 || f.R(x, y) > 0; };
    int litCount = 0;
    for (UINT y = 0; y < 120; ++y)
        for (UINT x = 0; x < 120; ++x) litCount += lit(x, y);
    EXPECT_EQ(litCount, 16 + 1 + 2 * 6);
    for (UINT y = 8; y < 12; ++y)
        for (UINT x = 8; x < 12; ++x) EXPECT_TRUE(lit(x, y)) << x << "," << y;
    // The texture lies across the square unturned: its top-right texel at the top right.
    EXPECT_EQ(f.R(11, 8), 255);
    EXPECT_EQ(f.G(11, 8), 0);
    EXPECT_EQ(f.G(8, 8), 255);
    EXPECT_EQ(f.G(8, 11), 255);
    EXPECT_TRUE(lit(20, 20));
    for (UINT y = 47; y < 53; ++y) {
        EXPECT_TRUE(lit(0, y)) << y;
        EXPECT_TRUE(lit(1, y)) << y;
    }
}

TEST_F(GlDeviceTest, HalfScaleSpriteCoversExactlyTheCentralSquare)
{
    Ref<IDirect3DTexture9> texture;
    ASSERT_EQ(D3DXCreateTexture(device, 256, 256, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, texture.out()), D3D_OK);
    for (UINT level = 0; level < texture->GetLevelCount(); ++level) {
        D3DSURFACE_DESC desc{};
        texture->GetLevelDesc(level, &desc);
        D3DLOCKED_RECT locked{};
        texture->LockRect(level, &locked, nullptr, 0);
        for (UINT i = 0; i < desc.Width * desc.Height; ++i) static_cast<std::uint32_t*>(locked.pBits)[i] = 0xFFFFFFFF;
        texture->UnlockRect(level);
    }
    Ref<ID3DXSprite> sprite;
    ASSERT_EQ(D3DXCreateSprite(device, sprite.out()), D3D_OK);
    D3DXVECTOR2 scale(0.5f, 0.5f), position((640 - 128) / 2, (480 - 128) / 2);
    sprite->Begin();
    sprite->Draw(texture.get(), nullptr, &scale, nullptr, 0.0f, &position, 0xFFFFFFFF);
    sprite->End();
    Frame f = ReadFrame(device);
    testsupport::KeepFrame(f, "sprite_half_scale");
    int wrong = 0;
    for (UINT y = 0; y < 480; ++y) {
        for (UINT x = 0; x < 640; ++x) {
            const bool inside = x >= 256 && x < 384 && y >= 176 && y < 304;
            const int expected = inside ? 255 : 0;
            if (f.R(x, y) != expected || f.G(x, y) != expected || f.B(x, y) != expected) ++wrong;
        }
    }
    EXPECT_EQ(wrong, 0);
}

TEST_F(GlDeviceTest, ImmediateDrawsUnderOneStateBecomeOneGpuDraw)
{
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    for (int i = 0; i < 1000; ++i) {
        // Setting the states again, unchanged, must not break the batch.
        device->SetRenderState(D3DRS_LIGHTING, FALSE);
        device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
        Quad(static_cast<float>(i % 600), 0, static_cast<float>(i % 600 + 2), 2, 0.0f, 0xFFFFFFFF);
    }
    device->Present(nullptr, nullptr, nullptr, nullptr);
    DeviceFrameStats stats = device->LastFrameStats();
    EXPECT_EQ(stats.immediateCalls, 1000u);
    EXPECT_EQ(stats.gpuDraws, 1u);
    EXPECT_EQ(stats.triangles, 2000u);
    EXPECT_EQ(stats.vertices, 6000u);
    const std::uint32_t presents = stats.presentCount;
    EXPECT_GT(presents, 0u);

    // A real change splits the batch; changing back splits it again.
    Quad(0, 0, 1, 1, 0.0f, 0xFFFFFFFF);
    device->SetRenderState(D3DRS_ZFUNC, D3DCMP_ALWAYS);
    Quad(0, 0, 1, 1, 0.0f, 0xFFFFFFFF);
    device->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
    Quad(0, 0, 1, 1, 0.0f, 0xFFFFFFFF);
    device->Present(nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(device->LastFrameStats().gpuDraws, 3u);
    EXPECT_EQ(device->LastFrameStats().presentCount, presents + 1) << "counted across frames";
}

TEST_F(GlDeviceTest, WithoutBatchingEveryCallIsAGpuDraw)
{
    Ref<IDirect3DDevice9> unbatched(testsupport::NewGlDevice(GlDeviceOptions{false}));
    ASSERT_TRUE(unbatched);
    ScreenVertex v[4] = {{0, 0, 0, 1, 0xFFFFFFFF, 0, 0}, {2, 0, 0, 1, 0xFFFFFFFF, 0, 0},
                         {2, 2, 0, 1, 0xFFFFFFFF, 0, 0}, {0, 2, 0, 1, 0xFFFFFFFF, 0, 0}};
    unbatched->SetFVF(kScreenFvf);
    for (int i = 0; i < 10; ++i) unbatched->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 2, v, sizeof(ScreenVertex));
    unbatched->Present(nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(unbatched->LastFrameStats().gpuDraws, 10u);
}

TEST_F(GlDeviceTest, SimulatedLossRunsTheRecoveryProtocol)
{
    device->SimulateLoss(D3DERR_DEVICELOST, D3DERR_DEVICENOTRESET);
    EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
    EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    D3DPRESENT_PARAMETERS pp = testsupport::FullScreenParameters();
    device->SetRenderState(D3DRS_FOGENABLE, TRUE);
    ASSERT_EQ(device->Reset(&pp), D3D_OK);
    EXPECT_EQ(device->TestCooperativeLevel(), D3D_OK);
    DWORD fog = TRUE;
    device->GetRenderState(D3DRS_FOGENABLE, &fog);
    EXPECT_EQ(fog, static_cast<DWORD>(FALSE));
    EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
}

}  // namespace

namespace {

TEST_F(GlDeviceTest, TextureReleasedWhileItsDrawsWaitStillShows)
{
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(D3DXCreateTexture(device, 4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture), D3D_OK);
    D3DLOCKED_RECT locked{};
    texture->LockRect(0, &locked, nullptr, 0);
    for (int i = 0; i < 16; ++i) static_cast<std::uint32_t*>(locked.pBits)[i] = 0xFFFF8000;
    texture->UnlockRect(0);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetTexture(0, texture);
    Quad(0, 0, 40, 40, 0.0f, 0xFFFFFFFF);
    device->SetTexture(0, nullptr);
    EXPECT_EQ(texture->Release(), 0u);  // gone before the batch was drawn
    Frame f = ReadFrame(device);
    EXPECT_EQ(f.R(20, 20), 255);
    EXPECT_EQ(f.G(20, 20), 128);
}

TEST_F(GlDeviceTest, WindowSizeChangeReportsALostDeviceOnce)
{
    auto* window = static_cast<SDL_Window*>(testsupport::OffscreenGlWindow(nullptr)->nativeWindow);
    SDL_SetWindowSize(window, 800, 600);
    EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
    EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    D3DPRESENT_PARAMETERS pp = testsupport::FullScreenParameters();
    ASSERT_EQ(device->Reset(&pp), D3D_OK);
    EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    // The back buffer keeps its logical size whatever the window's.
    EXPECT_EQ(ReadFrame(device).width, 640u);
    SDL_SetWindowSize(window, 640, 480);
    EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
    ASSERT_EQ(device->Reset(&pp), D3D_OK);
}

}  // namespace

namespace {

// Two quads that differ only in the texture factor (one uniform), drawn as
// a whole frame: left red, right green. The stats of the frame come back.
DeviceFrameStats TwoFactorQuadsFrame(IDirect3DDevice9* device, testsupport::Frame* frame)
{
    auto quad = [device](float x0, float x1) {
        ScreenVertex v[4] = {{x0, 100, 0, 1, 0xFFFFFFFF, 0, 0},
                             {x1, 100, 0, 1, 0xFFFFFFFF, 0, 0},
                             {x1, 200, 0, 1, 0xFFFFFFFF, 0, 0},
                             {x0, 200, 0, 1, 0xFFFFFFFF, 0, 0}};
        device->SetFVF(kScreenFvf);
        device->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 2, v, sizeof(ScreenVertex));
    };
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TFACTOR);
    device->SetRenderState(D3DRS_TEXTUREFACTOR, 0xFFFF0000);
    quad(100, 200);
    device->SetRenderState(D3DRS_TEXTUREFACTOR, 0xFF00FF00);
    quad(300, 400);
    if (frame != nullptr) *frame = ReadFrame(device);
    device->Present(nullptr, nullptr, nullptr, nullptr);
    return device->LastFrameStats();
}

TEST_F(GlDeviceTest, RepeatedFrameSendsOnlyTheStateThatChanges)
{
    TwoFactorQuadsFrame(device, nullptr);
    for (int repeat = 0; repeat < 2; ++repeat) {
        Frame f;
        const DeviceFrameStats stats = TwoFactorQuadsFrame(device, &f);
        EXPECT_EQ(stats.gpuDraws, 2u);
        // Each draw changes the factor back and forth: one uniform each,
        // and at most the viewport that presenting moved.
        EXPECT_GE(stats.stateCalls, 2u) << "frame " << repeat;
        EXPECT_LE(stats.stateCalls, 3u) << "frame " << repeat;
        // Both changes took effect.
        EXPECT_EQ(f.R(150, 150), 255);
        EXPECT_EQ(f.G(150, 150), 0);
        EXPECT_EQ(f.R(350, 150), 0);
        EXPECT_EQ(f.G(350, 150), 255);
    }

    // Re-issuing every state of a changed key costs many times more.
    Ref<IDirect3DDevice9> unskipped(testsupport::NewGlDevice(GlDeviceOptions{true, false}));
    ASSERT_TRUE(unskipped);
    TwoFactorQuadsFrame(unskipped.get(), nullptr);
    Frame f;
    const DeviceFrameStats full = TwoFactorQuadsFrame(unskipped.get(), &f);
    EXPECT_GE(full.stateCalls, 20u);
    EXPECT_EQ(f.R(150, 150), 255);
    EXPECT_EQ(f.G(350, 150), 255);
}

TEST_F(GlDeviceTest, TextureSwappedForANewOneShowsTheNewOne)
{
    // A texture freed and another made in its place may get the same GL
    // name and address; what is bound and how it samples must follow.
    auto make = [this](std::uint32_t colour) {
        IDirect3DTexture9* texture = nullptr;
        EXPECT_EQ(D3DXCreateTexture(device, 4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture), D3D_OK);
        D3DLOCKED_RECT locked{};
        texture->LockRect(0, &locked, nullptr, 0);
        for (int i = 0; i < 16; ++i) static_cast<std::uint32_t*>(locked.pBits)[i] = colour;
        texture->UnlockRect(0);
        return texture;
    };
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    IDirect3DTexture9* right = make(0xFF0000FF);
    IDirect3DTexture9* left = make(0xFFFF0000);
    for (int frame = 0; frame < 3; ++frame) {
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
        device->SetTexture(0, left);
        device->SetSamplerState(0, D3DSAMP_ADDRESSU, frame == 1 ? D3DTADDRESS_CLAMP : D3DTADDRESS_WRAP);
        Quad(0, 0, 40, 40, 0.0f, 0xFFFFFFFF);
        device->SetTexture(0, right);
        Quad(100, 0, 140, 40, 0.0f, 0xFFFFFFFF);
        device->SetTexture(0, nullptr);
        Frame f = ReadFrame(device);
        device->Present(nullptr, nullptr, nullptr, nullptr);
        const std::uint32_t colour = frame == 2 ? 0x00FF00u : 0xFF0000u;
        EXPECT_EQ(f.R(20, 20), static_cast<int>(colour >> 16)) << "frame " << frame;
        EXPECT_EQ(f.G(20, 20), static_cast<int>((colour >> 8) & 0xFF)) << "frame " << frame;
        EXPECT_EQ(f.B(120, 20), 255) << "frame " << frame;
        EXPECT_EQ(f.R(120, 20), 0) << "frame " << frame;
        if (frame == 1) {
            left->Release();
            left = make(0xFF00FF00);
        }
    }
    left->Release();
    right->Release();
}

}  // namespace
