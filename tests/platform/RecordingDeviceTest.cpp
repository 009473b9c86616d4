// The state-keeping device base and the recording device: Direct3D 9's
// defaults, what counts as a change, recorded draws, textures, loss.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/d3d9/MemoryTexture.h"
#include "platform/d3d9/RecordingDevice.h"
#include "support/DeviceTestSupport.h"

using testsupport::NewRecordingDevice;
using testsupport::Ref;

namespace {

struct Vertex144 {
    float x, y, z, rhw;
    DWORD colour;
    float u, v;
};

TEST(RecordingDevice, StartsWithDirect3DDefaults)
{
    Ref<RecordingDevice> device(NewRecordingDevice());
    const DeviceState& s = device->State();
    testsupport::ExpectRenderStates(s, {{D3DRS_ZENABLE, D3DZB_TRUE}, {D3DRS_CULLMODE, D3DCULL_CCW},
                                        {D3DRS_ZFUNC, D3DCMP_LESSEQUAL}, {D3DRS_LIGHTING, TRUE},
                                        {D3DRS_FOGENABLE, FALSE}, {D3DRS_SPECULARENABLE, FALSE},
                                        {D3DRS_COLORVERTEX, TRUE}, {D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_COLOR1},
                                        {D3DRS_SRCBLEND, D3DBLEND_ONE}, {D3DRS_DESTBLEND, D3DBLEND_ZERO}});
    EXPECT_FLOAT_EQ(s.RenderStateFloat(D3DRS_FOGEND), 1.0f);
    EXPECT_EQ(s.StageState(0, D3DTSS_COLOROP), static_cast<DWORD>(D3DTOP_MODULATE));
    EXPECT_EQ(s.StageState(0, D3DTSS_ALPHAOP), static_cast<DWORD>(D3DTOP_SELECTARG1));
    EXPECT_EQ(s.StageState(1, D3DTSS_COLOROP), static_cast<DWORD>(D3DTOP_DISABLE));
    EXPECT_EQ(s.SamplerState(0, D3DSAMP_MINFILTER), static_cast<DWORD>(D3DTEXF_POINT));
    EXPECT_EQ(s.SamplerState(0, D3DSAMP_ADDRESSU), static_cast<DWORD>(D3DTADDRESS_WRAP));
    EXPECT_EQ(s.viewport.Width, 640u);
    EXPECT_EQ(s.viewport.Height, 480u);
    EXPECT_FLOAT_EQ(s.world._11, 1.0f);
}

TEST(RecordingDevice, RecordsVerticesAndTheStateInForce)
{
    Ref<RecordingDevice> device(NewRecordingDevice());
    Vertex144 quad[4] = {{1, 2, 0, 1, 0x11223344, 0, 0}, {3, 4, 0, 1, 0, 0, 1}, {5, 6, 0, 1, 0, 1, 1},
                         {7, 8, 0, 1, 0, 1, 0}};
    device->SetFVF(0x144);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 2, quad, sizeof(Vertex144));
    quad[0].x = 99;  // the recording keeps its own copy
    device->SetRenderState(D3DRS_LIGHTING, TRUE);
    device->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 2, quad, sizeof(Vertex144));

    ASSERT_EQ(device->Draws().size(), 2u);
    const RecordedDraw& first = device->Draws()[0];
    EXPECT_EQ(first.VertexCount(), 4u);
    EXPECT_FLOAT_EQ(first.FloatAt(0, 0), 1.0f);
    EXPECT_EQ(first.DwordAt(0, 16), 0x11223344u);
    EXPECT_EQ(first.state->RenderState(D3DRS_LIGHTING), static_cast<DWORD>(FALSE));
    EXPECT_EQ(device->Draws()[1].state->RenderState(D3DRS_LIGHTING), static_cast<DWORD>(TRUE));
    EXPECT_FLOAT_EQ(device->Draws()[1].FloatAt(0, 0), 99.0f);
}

TEST(RecordingDevice, SettingAnUnchangedValueIsNoChange)
{
    Ref<RecordingDevice> device(NewRecordingDevice());
    Vertex144 quad[4] = {};
    device->SetFVF(0x144);
    device->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 2, quad, sizeof(Vertex144));
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
    device->SetFVF(0x144);
    device->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 2, quad, sizeof(Vertex144));
    EXPECT_EQ(device->Draws()[0].state, device->Draws()[1].state) << "the two draws share one state snapshot";
}

// The front end refuses these before any back end sees them, the OpenGL one included.
TEST(RecordingDevice, RefusesDrawsItCannotRead)
{
    Ref<RecordingDevice> device(NewRecordingDevice());
    Vertex144 quad[4] = {};
    device->SetFVF(0x144);
    EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 2, nullptr, 28), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 0, quad, 28), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 2, quad, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 2, quad, 8), D3DERR_INVALIDCALL) << "stride below the format";
    const std::uint16_t indices[3] = {0, 1, 7};
    EXPECT_EQ(device->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, 4, 1, indices, D3DFMT_INDEX16, quad,
                                             sizeof(Vertex144)),
              D3DERR_INVALIDCALL)
        << "index past the vertices";
    EXPECT_TRUE(device->Draws().empty());
}

// An indexed draw from buffers is refused, as the debug runtime refuses it,
// when any of its indices (16- or 32-bit) lies outside the vertex range it
// declares; the null renderer counts only draws that would be drawn.
TEST(RecordingDevice, RefusesIndexedDrawsWithIndicesOutsideTheirRange)
{
    for (D3DFORMAT format : {D3DFMT_INDEX16, D3DFMT_INDEX32}) {
        Ref<RecordingDevice> device(NewRecordingDevice());
        device->SetRecordDraws(false);
        IDirect3DVertexBuffer9* vertices = nullptr;
        ASSERT_EQ(device->CreateVertexBuffer(8 * sizeof(Vertex144), 0, 0x144, D3DPOOL_MANAGED, &vertices, nullptr),
                  D3D_OK);
        const UINT size = format == D3DFMT_INDEX32 ? 4 : 2;
        IDirect3DIndexBuffer9* indices = nullptr;
        ASSERT_EQ(device->CreateIndexBuffer(6 * size, 0, format, D3DPOOL_MANAGED, &indices, nullptr), D3D_OK);
        const std::uint32_t values[6] = {2, 3, 4, 4, 5, 70000};
        void* locked = nullptr;
        ASSERT_EQ(indices->Lock(0, 0, &locked, 0), D3D_OK);
        for (int i = 0; i < 6; ++i) {
            const std::uint16_t narrow = static_cast<std::uint16_t>(values[i]);
            std::memcpy(static_cast<std::uint8_t*>(locked) + i * size, size == 4 ? static_cast<const void*>(&values[i])
                                                                               : static_cast<const void*>(&narrow),
                        size);
        }
        indices->Unlock();
        device->SetFVF(0x144);
        device->SetStreamSource(0, vertices, 0, sizeof(Vertex144));
        device->SetIndices(indices);

        // Indices 2..4 of vertices 2..4, then 2..5 with a range one short, below and above.
        EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 2, 3, 0, 1), D3D_OK) << format;
        EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 2, 3, 3, 1), D3DERR_INVALIDCALL) << format;
        EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 3, 3, 0, 1), D3DERR_INVALIDCALL) << format;
        EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 2, 4, 2, 1), D3D_OK) << format;
        EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 2, 3, 2, 1), D3DERR_INVALIDCALL) << format;
        // The last index: 70000 as a 32-bit index, 4464 when narrowed to 16 bits; neither is in 2..7.
        EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 2, 6, 3, 1), D3DERR_INVALIDCALL) << format;
        device->Present(nullptr, nullptr, nullptr, nullptr);
        EXPECT_EQ(device->LastFrameStats().triangles, 2u) << format;

        device->SetIndices(nullptr);
        device->SetStreamSource(0, nullptr, 0, 0);
        indices->Release();
        vertices->Release();
    }
}

TEST(RecordingDevice, CountsAFramesDrawsAtPresent)
{
    Ref<RecordingDevice> device(NewRecordingDevice());
    Vertex144 quad[4] = {};
    device->SetFVF(0x144);
    for (int i = 0; i < 3; ++i) device->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 2, quad, sizeof(Vertex144));
    device->Present(nullptr, nullptr, nullptr, nullptr);
    DeviceFrameStats stats = device->LastFrameStats();
    EXPECT_EQ(stats.immediateCalls, 3u);
    EXPECT_EQ(stats.triangles, 6u);
    EXPECT_EQ(stats.vertices, 12u);
    EXPECT_EQ(stats.presentCount, 1u);
    device->Present(nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(device->LastFrameStats().immediateCalls, 0u);
    EXPECT_EQ(device->LastFrameStats().presentCount, 2u);
}

TEST(RecordingDevice, TextureReferencesFollowSetTextureAndReset)
{
    Ref<RecordingDevice> device(NewRecordingDevice());
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), D3D_OK);
    device->SetTexture(0, texture);
    EXPECT_EQ(texture->AddRef(), 3u);  // ours, the device's, this one
    texture->Release();

    D3DPRESENT_PARAMETERS pp = testsupport::FullScreenParameters();
    device->SetRenderState(D3DRS_FOGENABLE, TRUE);
    ASSERT_EQ(device->Reset(&pp), D3D_OK);
    EXPECT_EQ(device->State().textures[0], nullptr);
    EXPECT_EQ(device->State().RenderState(D3DRS_FOGENABLE), static_cast<DWORD>(FALSE));
    EXPECT_EQ(texture->Release(), 0u) << "the reset gave its reference back";
}

TEST(RecordingDevice, SimulatedLossLastsUntilReset)
{
    Ref<RecordingDevice> device(NewRecordingDevice());
    device->SimulateLoss(D3DERR_DEVICELOST, D3DERR_DEVICENOTRESET);
    EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
    EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    D3DPRESENT_PARAMETERS pp = testsupport::FullScreenParameters();
    device->FailNextReset(D3DERR_INVALIDCALL);
    EXPECT_EQ(device->Reset(&pp), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    EXPECT_EQ(device->Reset(&pp), D3D_OK);
    EXPECT_EQ(device->TestCooperativeLevel(), D3D_OK);
    EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
}

TEST(RecordingDevice, SurfacesHaveTheBackBufferSizeAndADeviceContext)
{
    Ref<RecordingDevice> device(NewRecordingDevice());
    Ref<IDirect3DSurface9> back;
    ASSERT_EQ(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, back.out()), D3D_OK);
    D3DSURFACE_DESC desc{};
    back->GetDesc(&desc);
    EXPECT_EQ(desc.Width, 640u);
    EXPECT_EQ(desc.Height, 480u);
    HDC dc = nullptr;
    ASSERT_EQ(back->GetDC(&dc), D3D_OK);
    EXPECT_NE(dc, nullptr);
    EXPECT_EQ(back->ReleaseDC(dc), D3D_OK);
    Ref<IDirect3DSurface9> depth;
    ASSERT_EQ(device->GetDepthStencilSurface(depth.out()), D3D_OK);
    depth->GetDesc(&desc);
    EXPECT_EQ(desc.Format, D3DFMT_D16);
}

TEST(VertexLayout, DescribesTheFormatsTheSceneUses)
{
    VertexLayout screen = DescribeFvf(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1);
    EXPECT_TRUE(screen.pretransformed);
    EXPECT_EQ(screen.diffuseOffset, 16);
    EXPECT_EQ(screen.texOffset, 20);
    EXPECT_EQ(screen.size, 28u);
    VertexLayout crystal = DescribeFvf(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1);
    EXPECT_FALSE(crystal.pretransformed);
    EXPECT_EQ(crystal.normalOffset, 12);
    EXPECT_EQ(crystal.diffuseOffset, 24);
    EXPECT_EQ(crystal.texOffset, 28);
    EXPECT_EQ(crystal.size, 36u);
    VertexLayout mesh = DescribeFvf(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1);
    EXPECT_EQ(mesh.diffuseOffset, -1);
    EXPECT_EQ(mesh.size, 32u);
}

TEST(MemoryTexture, LocksLevelsWithTheirPitchAndCountsChanges)
{
    Ref<RecordingDevice> device(NewRecordingDevice());
    IDirect3DTexture9* raw = nullptr;
    ASSERT_EQ(device->CreateTexture(256, 64, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &raw, nullptr), D3D_OK);
    Ref<IDirect3DTexture9> texture(raw);
    EXPECT_EQ(texture->GetLevelCount(), 9u);  // 256x64 down to 1x1
    D3DSURFACE_DESC desc{};
    texture->GetLevelDesc(8, &desc);
    EXPECT_EQ(desc.Width, 1u);
    EXPECT_EQ(desc.Height, 1u);

    auto* memory = static_cast<MemoryTexture*>(raw);
    const auto before = memory->Version();
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(texture->LockRect(1, &locked, nullptr, 0), D3D_OK);
    EXPECT_EQ(locked.Pitch, 128 * 4);
    EXPECT_EQ(texture->LockRect(1, &locked, nullptr, 0), D3DERR_INVALIDCALL) << "already locked";
    static_cast<std::uint32_t*>(locked.pBits)[3] = 0xAABBCCDD;
    EXPECT_EQ(texture->UnlockRect(1), D3D_OK);
    EXPECT_EQ(texture->UnlockRect(1), D3DERR_INVALIDCALL);
    EXPECT_NE(memory->Version(), before);
    EXPECT_EQ(memory->Texel(1, 3, 0), 0xAABBCCDDu);

    RECT outside{0, 0, 300, 10};
    EXPECT_EQ(texture->LockRect(0, &locked, &outside, 0), D3DERR_INVALIDCALL);
}

TEST(MemoryTexture, RefusesFormatsItDoesNotKeep)
{
    Ref<RecordingDevice> device(NewRecordingDevice());
    IDirect3DTexture9* texture = nullptr;
    EXPECT_EQ(device->CreateTexture(4, 4, 1, 0, D3DFMT_D16, D3DPOOL_MANAGED, &texture, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(texture, nullptr);
    EXPECT_EQ(device->CreateTexture(0, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr),
              D3DERR_INVALIDCALL);
}

}  // namespace
