// The D3DX stand-ins: matrix builders, textures from files (good and bad
// ones), and the sprite's quad and state handling on the recording device.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>

#include "platform/d3d9/MemoryTexture.h"
#include "platform/files/PngFile.h"
#include "platform/d3d9/d3dx9.h"
#include "support/DeviceTestSupport.h"

using testsupport::Bmp24;
using testsupport::NewRecordingDevice;
using testsupport::Ref;

namespace {

D3DXVECTOR3 Transform(const D3DXMATRIX& m, float x, float y, float z)
{
    D3DXVECTOR3 in(x, y, z), out;
    D3DXVec3TransformCoord(&out, &in, &m);
    return out;
}

TEST(D3dxMath, LookAtPutsTheEyeAtTheOriginLookingDownZ)
{
    D3DXMATRIX view;
    D3DXVECTOR3 eye(3, 4, -5), at(1, 0, 2), up(0, 1, 0);
    D3DXMatrixLookAtLH(&view, &eye, &at, &up);
    D3DXVECTOR3 e = Transform(view, 3, 4, -5);
    EXPECT_NEAR(D3DXVec3Length(&e), 0.0f, 1e-5f);
    D3DXVECTOR3 t = Transform(view, 1, 0, 2);
    D3DXVECTOR3 d = at - eye;
    EXPECT_NEAR(t.x, 0.0f, 1e-5f);
    EXPECT_NEAR(t.y, 0.0f, 1e-5f);
    EXPECT_NEAR(t.z, D3DXVec3Length(&d), 1e-4f);
}

TEST(D3dxMath, PerspectiveMapsNearToZeroAndFarToOne)
{
    D3DXMATRIX p;
    D3DXMatrixPerspectiveFovLH(&p, 0.7853982f, 4.0f / 3.0f, 1.0f, 1000.0f);
    EXPECT_NEAR(Transform(p, 0, 0, 1).z, 0.0f, 1e-6f);
    EXPECT_NEAR(Transform(p, 0, 0, 1000).z, 1.0f, 1e-5f);
    // The top of the field of view at distance 10 maps to y = 1.
    EXPECT_NEAR(Transform(p, 0, 10.0f * std::tan(0.7853982f / 2), 10).y, 1.0f, 1e-5f);
    EXPECT_FLOAT_EQ(p._34, 1.0f);
    EXPECT_FLOAT_EQ(p._44, 0.0f);
}

TEST(D3dxMath, OrthoFollowsThePublishedFormula)
{
    D3DXMATRIX o;
    D3DXMatrixOrthoLH(&o, 1.0f, 1.0f, 0.0f, 10000.0f);
    EXPECT_FLOAT_EQ(o._11, 2.0f);
    EXPECT_FLOAT_EQ(o._22, 2.0f);
    EXPECT_FLOAT_EQ(o._33, 1.0f / 10000.0f);
    EXPECT_FLOAT_EQ(o._43, 0.0f);
    EXPECT_FLOAT_EQ(o._44, 1.0f);
}

TEST(D3dxMath, InverseUndoesAMatrix)
{
    D3DXMATRIX a, b, inverse;
    D3DXMatrixRotationY(&a, 0.7f);
    D3DXMatrixTranslation(&b, 3, -2, 8);
    const D3DXMATRIX r = a * b;
    ASSERT_NE(D3DXMatrixInverse(&inverse, nullptr, &r), nullptr);
    const D3DXMATRIX product = r * inverse;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) EXPECT_NEAR(product.m[i][j], i == j ? 1.0f : 0.0f, 1e-5f);
    D3DXMATRIX zero;
    EXPECT_EQ(D3DXMatrixInverse(&inverse, nullptr, &zero), nullptr);
}

// ---------------------------------------------------------------------------

class D3dxTextureTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = testsupport::TempDir();
        raw = NewRecordingDevice();
    }
    void TearDown() override { raw->Release(); }

    HRESULT Load(const std::string& path, IDirect3DTexture9** texture, UINT size = D3DX_DEFAULT)
    {
        return D3DXCreateTextureFromFileExA(raw, path.c_str(), size, size, D3DX_DEFAULT, 0, D3DFMT_UNKNOWN,
                                            D3DPOOL_MANAGED, D3DX_FILTER_TRIANGLE | D3DX_FILTER_MIRROR,
                                            D3DX_FILTER_TRIANGLE | D3DX_FILTER_MIRROR, 0, nullptr, nullptr, texture);
    }

    std::string dir;
    RecordingDevice* raw = nullptr;
};

TEST_F(D3dxTextureTest, PngKeepsItsTexelsTopRowFirstWithAFullChain)
{
    std::vector<std::uint8_t> rgba = {
        10, 20, 30, 255, 40, 50, 60, 128,   // top row
        70, 80, 90, 255, 100, 110, 120, 0,  // bottom row
    };
    const std::string path = dir + "/small.png";
    ASSERT_TRUE(testsupport::WriteRgbaPng(path, 2, 2, rgba));
    Ref<IDirect3DTexture9> texture;
    ASSERT_EQ(Load(path, texture.out()), D3D_OK);
    auto* memory = static_cast<MemoryTexture*>(texture.get());
    EXPECT_EQ(memory->Width(), 2u);
    EXPECT_EQ(memory->GetLevelCount(), 2u);
    EXPECT_EQ(memory->Texel(0, 0, 0), 0xFF0A141Eu);
    EXPECT_EQ(memory->Texel(0, 1, 0), 0x8028323Cu);
    EXPECT_EQ(memory->Texel(0, 0, 1), 0xFF46505Au);
}

TEST_F(D3dxTextureTest, DefaultSizeRoundsUpToPowersOfTwo)
{
    const std::string path = dir + "/odd.png";
    ASSERT_TRUE(testsupport::WriteSolidPng(path, 3, 5, 200, 100, 50, 255));
    Ref<IDirect3DTexture9> texture;
    ASSERT_EQ(Load(path, texture.out()), D3D_OK);
    D3DSURFACE_DESC desc{};
    texture->GetLevelDesc(0, &desc);
    EXPECT_EQ(desc.Width, 4u);
    EXPECT_EQ(desc.Height, 8u);
    EXPECT_EQ(desc.Format, D3DFMT_A8R8G8B8);
    EXPECT_EQ(desc.Pool, D3DPOOL_MANAGED);
    EXPECT_EQ(texture->GetLevelCount(), 4u);
    // A solid picture stays solid in every level.
    auto* memory = static_cast<MemoryTexture*>(texture.get());
    EXPECT_EQ(memory->Texel(0, 3, 7), 0xFFC86432u);
    EXPECT_EQ(memory->Texel(3, 0, 0), 0xFFC86432u);
}

TEST_F(D3dxTextureTest, BmpLoadsThroughTheBmpReader)
{
    const std::string path = dir + "/pic.bmp";
    ASSERT_TRUE(testsupport::WriteBytes(path, Bmp24(2, 2, {0xFF102030, 0xFF405060, 0xFF708090, 0xFFA0B0C0})));
    Ref<IDirect3DTexture9> texture;
    ASSERT_EQ(Load(path, texture.out()), D3D_OK);
    auto* memory = static_cast<MemoryTexture*>(texture.get());
    EXPECT_EQ(memory->Texel(0, 0, 0), 0xFF102030u);
    EXPECT_EQ(memory->Texel(0, 1, 1), 0xFFA0B0C0u);
}

TEST_F(D3dxTextureTest, MissingFileFailsCleanly)
{
    IDirect3DTexture9* texture = reinterpret_cast<IDirect3DTexture9*>(0x1);
    EXPECT_EQ(Load(dir + "/absent.png", &texture), D3DERR_INVALIDCALL);
    EXPECT_EQ(texture, nullptr);
}

TEST_F(D3dxTextureTest, TruncatedPngFailsCleanly)
{
    const std::string path = dir + "/whole.png";
    // Noise does not compress, so the file is long enough to cut in the middle of its data.
    std::vector<std::uint8_t> rgba(64 * 64 * 4);
    std::uint32_t x = 2463534242u;
    for (auto& byte : rgba) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        byte = static_cast<std::uint8_t>(x);
    }
    ASSERT_TRUE(testsupport::WriteRgbaPng(path, 64, 64, rgba));
    std::vector<std::uint8_t> bytes = testsupport::ReadBytes(path);
    ASSERT_GT(bytes.size(), 1000u);
    for (std::size_t keep : {bytes.size() / 2, std::size_t{40}, std::size_t{8}, std::size_t{3}}) {
        const std::string cut = dir + "/cut" + std::to_string(keep) + ".png";
        ASSERT_TRUE(testsupport::WriteBytes(cut, std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + keep)));
        IDirect3DTexture9* texture = nullptr;
        EXPECT_EQ(Load(cut, &texture), D3DERR_INVALIDCALL) << keep << " bytes";
        EXPECT_EQ(texture, nullptr);
    }
}

TEST_F(D3dxTextureTest, CorruptPngDataFailsCleanly)
{
    const std::string path = dir + "/bad.png";
    ASSERT_TRUE(testsupport::WriteSolidPng(path, 32, 32, 1, 2, 3, 255));
    std::vector<std::uint8_t> bytes = testsupport::ReadBytes(path);
    for (std::size_t i = 40; i < bytes.size() - 12; ++i) bytes[i] ^= 0x5A;
    ASSERT_TRUE(testsupport::WriteBytes(path, bytes));
    IDirect3DTexture9* texture = nullptr;
    EXPECT_EQ(Load(path, &texture), D3DERR_INVALIDCALL);
    EXPECT_EQ(texture, nullptr);
}

TEST_F(D3dxTextureTest, BmpWithAWrongHeaderFailsCleanly)
{
    std::vector<std::uint8_t> good = Bmp24(4, 4, std::vector<std::uint32_t>(16, 0xFF00FF00));
    std::vector<std::uint8_t> notBmp = good;
    notBmp[0] = 'X';  // wrong magic
    std::vector<std::uint8_t> badInfo = good;
    badInfo[14] = 7;  // impossible info header size
    std::vector<std::uint8_t> cut(good.begin(), good.begin() + 30);
    int n = 0;
    for (const auto& bytes : {notBmp, badInfo, cut, std::vector<std::uint8_t>{}}) {
        const std::string path = dir + "/bad" + std::to_string(n++) + ".bmp";
        ASSERT_TRUE(testsupport::WriteBytes(path, bytes));
        IDirect3DTexture9* texture = nullptr;
        EXPECT_EQ(Load(path, &texture), D3DERR_INVALIDCALL) << path;
        EXPECT_EQ(texture, nullptr);
    }
}

TEST_F(D3dxTextureTest, PngNamedFileThatIsNotPngFails)
{
    const std::string path = dir + "/fake.png";
    ASSERT_TRUE(testsupport::WriteBytes(path, Bmp24(2, 2, std::vector<std::uint32_t>(4, 0))));
    IDirect3DTexture9* texture = nullptr;
    EXPECT_EQ(Load(path, &texture), D3DERR_INVALIDCALL);
}

TEST_F(D3dxTextureTest, CreateTextureMakesADynamicArgbTexture)
{
    Ref<IDirect3DTexture9> texture;
    ASSERT_EQ(D3DXCreateTexture(raw, 128, 128, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, texture.out()), D3D_OK);
    EXPECT_EQ(texture->GetLevelCount(), 1u);
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, D3DLOCK_DONOTWAIT), D3D_OK);
    EXPECT_EQ(locked.Pitch, 512);
    texture->UnlockRect(0);
}

// ---------------------------------------------------------------------------

class D3dxSpriteTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        device = NewRecordingDevice();
        ASSERT_EQ(D3DXCreateTexture(device, 256, 256, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture), D3D_OK);
        ASSERT_EQ(D3DXCreateSprite(device, &sprite), D3D_OK);
    }
    void TearDown() override
    {
        sprite->Release();
        texture->Release();
        device->Release();
    }
    // x, y and u, v of vertex i of the last draw.
    std::array<float, 4> Corner(UINT i) const
    {
        const RecordedDraw& d = device->Draws().back();
        return {d.FloatAt(i, 0), d.FloatAt(i, 4), d.FloatAt(i, 20), d.FloatAt(i, 24)};
    }

    RecordingDevice* device = nullptr;
    IDirect3DTexture9* texture = nullptr;
    ID3DXSprite* sprite = nullptr;
};

TEST_F(D3dxSpriteTest, ScalesAboutTheTopLeftCornerThenTranslates)
{
    D3DXVECTOR2 scale(0.5f, 0.5f), position(256.0f, 176.0f);
    ASSERT_EQ(sprite->Begin(), D3D_OK);
    ASSERT_EQ(sprite->Draw(texture, nullptr, &scale, nullptr, 0.0f, &position, 0x80FFFFFF), D3D_OK);
    ASSERT_EQ(sprite->End(), D3D_OK);
    ASSERT_EQ(device->Draws().size(), 1u);
    const RecordedDraw& draw = device->Draws()[0];
    EXPECT_EQ(draw.type, D3DPT_TRIANGLEFAN);
    EXPECT_EQ(draw.fvf, static_cast<DWORD>(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1));
    EXPECT_EQ(Corner(0), (std::array<float, 4>{256, 176, 0, 0}));
    EXPECT_EQ(Corner(2), (std::array<float, 4>{384, 304, 1, 1}));
    EXPECT_EQ(draw.DwordAt(0, 16), 0x80FFFFFFu);

    const DeviceState& s = *draw.state;
    EXPECT_EQ(s.textures[0], texture);
    testsupport::ExpectRenderStates(s, {{D3DRS_ZENABLE, D3DZB_FALSE}, {D3DRS_LIGHTING, FALSE}, {D3DRS_FOGENABLE, FALSE},
                                        {D3DRS_ALPHABLENDENABLE, TRUE}, {D3DRS_SRCBLEND, D3DBLEND_SRCALPHA}});
    EXPECT_EQ(s.StageState(0, D3DTSS_ALPHAOP), static_cast<DWORD>(D3DTOP_MODULATE));
    EXPECT_EQ(s.StageState(0, D3DTSS_COLORARG2), D3DTA_DIFFUSE);
}

TEST_F(D3dxSpriteTest, SourceRectangleChoosesSizeAndCoordinates)
{
    RECT source{0, 0, 128, 64};
    D3DXVECTOR2 position(10.0f, 20.0f);
    ASSERT_EQ(sprite->Draw(texture, &source, nullptr, nullptr, 0.0f, &position, 0xFFFFFFFF), D3D_OK);
    EXPECT_EQ(Corner(2), (std::array<float, 4>{138, 84, 0.5f, 0.25f}));
}

TEST_F(D3dxSpriteTest, RotatesAboutTheCentre)
{
    D3DXVECTOR2 centre(128.0f, 128.0f);
    sprite->Draw(texture, nullptr, nullptr, &centre, D3DX_PI / 2, nullptr, 0xFFFFFFFF);
    // A quarter turn about the picture's centre maps the top-left corner to the top-right.
    std::array<float, 4> c = Corner(0);
    EXPECT_NEAR(c[0], 256.0f, 1e-3f);
    EXPECT_NEAR(c[1], 0.0f, 1e-3f);
}

TEST_F(D3dxSpriteTest, PutsEveryStateBackAfterwards)
{
    device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    device->SetRenderState(D3DRS_FOGENABLE, TRUE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    device->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
    device->SetFVF(0x152);
    const DeviceState before = device->State();

    sprite->Begin();
    sprite->Draw(texture, nullptr, nullptr, nullptr, 0.0f, nullptr, 0xFFFFFFFF);
    sprite->Draw(texture, nullptr, nullptr, nullptr, 0.0f, nullptr, 0xFFFFFFFF);
    sprite->End();
    EXPECT_EQ(std::memcmp(&before, &device->State(), sizeof before), 0);

    // Outside Begin/End too.
    sprite->Draw(texture, nullptr, nullptr, nullptr, 0.0f, nullptr, 0xFFFFFFFF);
    EXPECT_EQ(std::memcmp(&before, &device->State(), sizeof before), 0);
    // The two quads between Begin and End share a texture: one draw.
    EXPECT_EQ(device->Draws().size(), 2u);
}

// Between Begin and End nothing is drawn until End; then each run of quads
// with one texture is one draw, in the order drawn: a lone quad as its fan,
// several as one list of their triangles.
TEST_F(D3dxSpriteTest, KeepsQuadsUntilEndAndSendsEachRunOfOneTextureAsOneDraw)
{
    Ref<IDirect3DTexture9> other;
    ASSERT_EQ(D3DXCreateTexture(device, 64, 64, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, other.out()), D3D_OK);
    ASSERT_EQ(sprite->Begin(), D3D_OK);
    const float xs[4] = {0.0f, 10.0f, 20.0f, 30.0f};
    IDirect3DTexture9* textures[4] = {texture, texture, other.get(), texture};
    for (int i = 0; i < 4; ++i) {
        D3DXVECTOR2 position(xs[i], 5.0f);
        ASSERT_EQ(sprite->Draw(textures[i], nullptr, nullptr, nullptr, 0.0f, &position, 0xFF000000u + i), D3D_OK);
        // A run goes out when the next quad brings another texture.
        EXPECT_EQ(device->Draws().size(), i < 2 ? 0u : static_cast<std::size_t>(i - 1)) << i;
    }
    ASSERT_EQ(sprite->End(), D3D_OK);
    const auto& draws = device->Draws();
    ASSERT_EQ(draws.size(), 3u);
    EXPECT_EQ(draws[0].type, D3DPT_TRIANGLELIST);
    EXPECT_EQ(draws[0].primitiveCount, 2u * 2u);
    EXPECT_EQ(draws[0].state->textures[0], texture);
    EXPECT_EQ(draws[1].type, D3DPT_TRIANGLEFAN);
    EXPECT_EQ(draws[1].state->textures[0], other.get());
    EXPECT_EQ(draws[2].type, D3DPT_TRIANGLEFAN);
    EXPECT_EQ(draws[2].state->textures[0], texture);
    // The list holds each quad as the triangles of its fan: corners 0 1 2 and 0 2 3.
    for (UINT quad = 0; quad < 2; ++quad) {
        const UINT v = quad * 6;
        EXPECT_EQ(draws[0].FloatAt(v, 0), xs[quad]);
        EXPECT_EQ(draws[0].DwordAt(v, 16), 0xFF000000u + quad);
        EXPECT_EQ(draws[0].FloatAt(v + 2, 0), xs[quad] + 256.0f);
        EXPECT_EQ(draws[0].FloatAt(v + 2, 4), 5.0f + 256.0f);
        EXPECT_EQ(draws[0].FloatAt(v + 3, 0), xs[quad]);
        EXPECT_EQ(draws[0].FloatAt(v + 5, 0), xs[quad]);
        EXPECT_EQ(draws[0].FloatAt(v + 5, 4), 5.0f + 256.0f);
    }
    EXPECT_EQ(draws[2].FloatAt(0, 0), 30.0f);
}

TEST_F(D3dxSpriteTest, ReleasedBetweenBeginAndEndPutsTheStateBackAndHoldsNoReference)
{
    IDirect3DTexture9* bound = nullptr;
    ASSERT_EQ(D3DXCreateTexture(device, 16, 16, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &bound), D3D_OK);
    device->SetTexture(0, bound);
    device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    const DeviceState before = device->State();
    const ULONG boundReferences = bound->AddRef() - 1;
    bound->Release();

    ID3DXSprite* open = nullptr;
    ASSERT_EQ(D3DXCreateSprite(device, &open), D3D_OK);
    ASSERT_EQ(open->Begin(), D3D_OK);
    ASSERT_EQ(open->Draw(texture, nullptr, nullptr, nullptr, 0.0f, nullptr, 0xFFFFFFFF), D3D_OK);
    open->Release();
    EXPECT_EQ(std::memcmp(&before, &device->State(), sizeof before), 0);
    EXPECT_EQ(bound->AddRef(), boundReferences + 1);
    bound->Release();
    device->SetTexture(0, nullptr);
    bound->Release();
}

TEST_F(D3dxSpriteTest, RefusesMisuse)
{
    EXPECT_EQ(sprite->End(), D3DERR_INVALIDCALL);
    EXPECT_EQ(sprite->Begin(), D3D_OK);
    EXPECT_EQ(sprite->Begin(), D3DERR_INVALIDCALL);
    EXPECT_EQ(sprite->Draw(nullptr, nullptr, nullptr, nullptr, 0.0f, nullptr, 0xFFFFFFFF), D3DERR_INVALIDCALL);
    // Losing the device ends an open Begin.
    EXPECT_EQ(sprite->OnLostDevice(), D3D_OK);
    EXPECT_EQ(sprite->End(), D3DERR_INVALIDCALL);
    ID3DXSprite* none = sprite;
    EXPECT_EQ(D3DXCreateSprite(nullptr, &none), D3DERR_INVALIDCALL);
    EXPECT_EQ(none, nullptr);
}

}  // namespace
