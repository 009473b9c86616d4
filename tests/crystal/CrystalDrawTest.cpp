// What a crystal sends to the device: its bands and lid, their normals and
// sphere-map coordinates, the states in force, and the mirrored crystals.
#include <cmath>

#include "CrystalFixture.h"
#include "crystal/Crystal.h"
#include "crystal/CrystalCluster.h"

namespace {

constexpr UINT kPosition = 0, kNormal = 12, kDiffuse = 24, kU = 28, kV = 32;

class CrystalDraw : public CrystalFixture {
protected:
    void SetUp() override
    {
        CrystalFixture::SetUp();
        ASSERT_TRUE(crystal.Create(&world, device));
    }
    const std::vector<RecordedDraw>& DrawCrystal(const Matrix4& matrix = MatrixIdentity())
    {
        device->ClearDraws();
        crystal.Draw(device, matrix);
        return device->Draws();
    }
    void Grow(int rings)
    {
        for (int i = 0; i < rings; ++i) ASSERT_TRUE(crystal.body->GrowStep(0.8f, 10.0f, 90.0f, 1.2f, 1, 5000));
    }

    Crystal crystal;
};

TEST_F(CrystalDraw, SeedAloneDrawsNothingTwoRingsABandThreeRingsALid)
{
    EXPECT_TRUE(DrawCrystal().empty());
    crystal.body->shownRings = 1;
    EXPECT_TRUE(DrawCrystal().empty());

    Grow(1);
    const auto& band = DrawCrystal();
    ASSERT_EQ(band.size(), 1u);
    // Six faces of two triangles each, drawn from the buffer.
    EXPECT_TRUE(band[0].fromBuffers);
    EXPECT_EQ(band[0].type, D3DPT_TRIANGLELIST);
    EXPECT_EQ(band[0].primitiveCount, 12u);
    EXPECT_EQ(band[0].VertexCount(), 24u);
    EXPECT_EQ(band[0].stride, 36u);
    EXPECT_EQ(band[0].fvf, 0x152u);

    Grow(1);
    const auto& capped = DrawCrystal();
    ASSERT_EQ(capped.size(), 2u);
    EXPECT_EQ(capped[0].primitiveCount, 24u);
    const RecordedDraw& lid = capped.back();
    EXPECT_EQ(lid.type, D3DPT_TRIANGLEFAN);
    EXPECT_EQ(lid.primitiveCount, 6u);
    ASSERT_EQ(lid.VertexCount(), 8u);
    // The fan repeats the first corner to close the hexagon.
    EXPECT_EQ(lid.FloatAt(7, kPosition), lid.FloatAt(1, kPosition));
    EXPECT_EQ(lid.FloatAt(0, kPosition), crystal.body->Ring(2).centre.x);
}

// The sphere-map coordinates the device makes from a vertex: the normal
// turned to camera space by world and view, then by the texture transform.
void GeneratedCoordinates(const DeviceState& s, float nx, float ny, float nz, float& u, float& v)
{
    EXPECT_EQ(s.StageState(0, D3DTSS_TEXCOORDINDEX), D3DTSS_TCI_CAMERASPACENORMAL);
    EXPECT_EQ(s.StageState(0, D3DTSS_TEXTURETRANSFORMFLAGS), static_cast<DWORD>(D3DTTFF_COUNT2));
    float world[3], camera[3];
    for (int c = 0; c < 3; ++c) world[c] = nx * s.world.m[0][c] + ny * s.world.m[1][c] + nz * s.world.m[2][c];
    for (int c = 0; c < 3; ++c)
        camera[c] = world[0] * s.view.m[0][c] + world[1] * s.view.m[1][c] + world[2] * s.view.m[2][c];
    const D3DMATRIX& t = s.texture0;
    u = camera[0] * t._11 + camera[1] * t._21 + camera[2] * t._31 + t._41;
    v = camera[0] * t._12 + camera[1] * t._22 + camera[2] * t._32 + t._42;
}

TEST_F(CrystalDraw, FacesAreFlatWithOneSphereMapSampleEach)
{
    Grow(3);
    Matrix4 turn = MatrixIdentity();
    turn._11 = turn._33 = std::cos(0.3f);
    turn._13 = -std::sin(0.3f);
    turn._31 = std::sin(0.3f);
    // A view that turns and moves, so that the texture transform has to undo it.
    Matrix4 view = MatrixIdentity();
    view._11 = view._22 = std::cos(0.7f);
    view._12 = std::sin(0.7f);
    view._21 = -std::sin(0.7f);
    view._42 = 30.0f;
    device->SetTransform(D3DTS_VIEW, &view);
    const auto& draws = DrawCrystal(turn);
    ASSERT_EQ(draws.size(), 2u);
    const RecordedDraw& bands = draws[0];
    ASSERT_EQ(bands.VertexCount(), 3u * 24u);
    const Matrix4& w = crystal.body->worldMatrix;
    const CrystalRing& ring = crystal.body->Ring(2);
    const CrystalRing& below = crystal.body->Ring(1);
    for (int i = 0; i < 6; ++i) {
        const UINT face = 24 + i * 4;  // the band of ring 2, after the band of ring 1
        const int j = (i + 1) % 6;
        const Vector3 n = 0.25f * (ring.rim[i].Normal() + ring.rim[j].Normal() + below.rim[j].Normal() + below.rim[i].Normal());
        const float u = (n.x * w._11 + n.y * w._21 + n.z * w._31 + 1.0f) * 0.5f;
        const float v = (1.0f - (n.x * w._12 + n.y * w._22 + n.z * w._32)) * 0.5f;
        // Corners in the order top i, top j, bottom j, bottom i.
        EXPECT_EQ(bands.FloatAt(face + 0, kPosition), ring.rim[i].position[0]);
        EXPECT_EQ(bands.FloatAt(face + 1, kPosition), ring.rim[j].position[0]);
        EXPECT_EQ(bands.FloatAt(face + 2, kPosition + 4), below.rim[j].position[1]);
        EXPECT_EQ(bands.FloatAt(face + 3, kPosition + 8), below.rim[i].position[2]);
        for (UINT corner = 0; corner < 4; ++corner) {
            EXPECT_FLOAT_EQ(bands.FloatAt(face + corner, kNormal), n.x);
            EXPECT_FLOAT_EQ(bands.FloatAt(face + corner, kNormal + 8), n.z);
            EXPECT_EQ(bands.DwordAt(face + corner, kDiffuse), 0xFFFFFFFFu);
            float gu, gv;
            GeneratedCoordinates(*bands.state, bands.FloatAt(face + corner, kNormal),
                                 bands.FloatAt(face + corner, kNormal + 4), bands.FloatAt(face + corner, kNormal + 8),
                                 gu, gv);
            EXPECT_NEAR(gu, u, 1e-5f);
            EXPECT_NEAR(gv, v, 1e-5f);
        }
        // Two triangles as the fan of the four corners: (0, 1, 2), (0, 2, 3).
        const std::uint16_t expected[6] = {0, 1, 2, 0, 2, 3};
        for (int k = 0; k < 6; ++k) EXPECT_EQ(bands.indices[(6 + i) * 6 + k], face + expected[k]);
        // The average of four unit normals is not renormalised.
        EXPECT_LE(std::sqrt(Dot(n, n)), 1.0f + 1e-6f);
    }
    // The lid samples the map with its axis the same way.
    float gu, gv;
    const RecordedDraw& lid = draws[1];
    GeneratedCoordinates(*lid.state, lid.FloatAt(0, kNormal), lid.FloatAt(0, kNormal + 4), lid.FloatAt(0, kNormal + 8),
                         gu, gv);
    const Vector3 a = crystal.body->Ring(3).axis;
    EXPECT_NEAR(gu, (a.x * w._11 + a.y * w._21 + a.z * w._31 + 1.0f) * 0.5f, 1e-5f);
    EXPECT_NEAR(gv, (1.0f - (a.x * w._12 + a.y * w._22 + a.z * w._32)) * 0.5f, 1e-5f);
    // Texture coordinates go back to the vertices' own for whoever draws next.
    DWORD index = 1;
    device->GetTextureStageState(0, D3DTSS_TEXCOORDINDEX, &index);
    EXPECT_EQ(index, 0u);
}

TEST_F(CrystalDraw, OnlyTheRingsBuiltOrBentSinceTheLastDrawAreWritten)
{
    Grow(5);
    DrawCrystal();
    EXPECT_EQ(crystal.body->StaleFrom(), crystal.body->builtRings);
    // A new ring bends the one below it: two bands to write again.
    Grow(1);
    EXPECT_EQ(crystal.body->StaleFrom(), crystal.body->builtRings - 2);
    const auto& draws = DrawCrystal();
    ASSERT_FALSE(draws.empty());
    const CrystalRing& top = crystal.body->Ring(6);
    const CrystalRing& bent = crystal.body->Ring(5);
    // Ring 5's band (from ring 1 on, the fifth block of 24) shows its bent rim.
    EXPECT_EQ(draws[0].FloatAt(4 * 24, kPosition), bent.rim[0].position[0]);
    EXPECT_EQ(draws[0].FloatAt(5 * 24, kPosition), top.rim[0].position[0]);
    EXPECT_EQ(draws[0].FloatAt(5 * 24 + 3, kPosition + 4), bent.rim[0].position[1]);
}

TEST_F(CrystalDraw, StatesTextureAndMaterialInForce)
{
    Grow(2);
    const auto& draws = DrawCrystal();
    ASSERT_FALSE(draws.empty());
    const DeviceState& s = *draws.front().state;
    EXPECT_EQ(s.textures[0], crystal.sphereMap.texture);
    EXPECT_NE(s.textures[0], nullptr);
    EXPECT_EQ(s.RenderState(D3DRS_CULLMODE), static_cast<DWORD>(D3DCULL_NONE));
    EXPECT_EQ(s.RenderState(D3DRS_SPECULARMATERIALSOURCE), static_cast<DWORD>(D3DMCS_MATERIAL));
    EXPECT_EQ(s.material.Diffuse.r, 1.0f);
    EXPECT_EQ(s.material.Emissive.g, 0.0f);
    EXPECT_EQ(s.material.Power, 10.0f);
    IDirect3DTexture9* after = nullptr;
    device->GetTexture(0, &after);
    EXPECT_EQ(after, nullptr);
}

TEST_F(CrystalDraw, LidGoesAtTheFirstDissolvingStepAndComesBackWithTheReset)
{
    Grow(9);
    const auto& full = DrawCrystal();
    ASSERT_EQ(full.size(), 2u);
    EXPECT_EQ(full[0].primitiveCount, 9u * 12u);
    ASSERT_TRUE(crystal.body->Animate(device, MatrixIdentity(), -4));
    // Rings 4..9 still draw their bands; the lid is gone.
    const auto& dissolving = DrawCrystal();
    ASSERT_EQ(dissolving.size(), 1u);
    EXPECT_EQ(dissolving[0].primitiveCount, 6u * 12u);
    crystal.Reset();
    Grow(2);
    const auto& regrown = DrawCrystal();
    ASSERT_EQ(regrown.size(), 2u);
    EXPECT_EQ(regrown[0].primitiveCount, 2u * 12u);
}

TEST_F(CrystalDraw, MirroredCrystalsStandUnderTheirTwinsWithCullingOff)
{
    CrystalCluster cluster;
    ASSERT_TRUE(cluster.Create(&world, device));
    for (const auto& crystalSlot : cluster.crystals)
        for (int i = 0; i < 3; ++i) ASSERT_TRUE(crystalSlot->body->GrowStep(0.8f, 10.0f, 0.0f, 1.2f, 1, 5000));
    device->ClearDraws();
    cluster.Draw(device, MatrixIdentity());
    const auto& draws = device->Draws();
    ASSERT_EQ(draws.size(), 16u * 2u);

    for (int k = 0; k < 8; ++k) {
        const RecordedDraw& upright = draws[k * 2];
        const RecordedDraw& mirrored = draws[(k + 8) * 2];
        const D3DMATRIX& a = upright.state->world;
        const D3DMATRIX& b = mirrored.state->world;
        SCOPED_TRACE(k);
        // Standing on the circle of radius 12, 45 degrees apart.
        EXPECT_NEAR(a._41, 12.0f * std::cos(45.0f * k * DegreesToRadians), 1e-4f);
        EXPECT_NEAR(a._43, 12.0f * std::sin(45.0f * k * DegreesToRadians), 1e-4f);
        // The twin is the same placement reflected in y = 0.
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c) EXPECT_NEAR(b.m[r][c], r == 1 ? -a.m[r][c] : a.m[r][c], 1e-5f);
        // A reflection reverses the winding, so neither may be culled.
        const float det = b._11 * (b._22 * b._33 - b._23 * b._32) - b._12 * (b._21 * b._33 - b._23 * b._31) +
                          b._13 * (b._21 * b._32 - b._22 * b._31);
        EXPECT_LT(det, 0.0f);
        EXPECT_EQ(upright.state->RenderState(D3DRS_CULLMODE), static_cast<DWORD>(D3DCULL_NONE));
        EXPECT_EQ(mirrored.state->RenderState(D3DRS_CULLMODE), static_cast<DWORD>(D3DCULL_NONE));
        // Same local shape.
        EXPECT_EQ(upright.FloatAt(0, kPosition + 4), mirrored.FloatAt(0, kPosition + 4));
    }
}

}  // namespace
