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
    ASSERT_EQ(band.size(), 6u);
    for (const RecordedDraw& face : band) {
        EXPECT_EQ(face.type, D3DPT_TRIANGLEFAN);
        EXPECT_EQ(face.primitiveCount, 2u);
        EXPECT_EQ(face.stride, 36u);
        EXPECT_EQ(face.fvf, 0x152u);
    }

    Grow(1);
    const auto& capped = DrawCrystal();
    ASSERT_EQ(capped.size(), 13u);
    const RecordedDraw& lid = capped.back();
    EXPECT_EQ(lid.primitiveCount, 6u);
    ASSERT_EQ(lid.VertexCount(), 8u);
    // The fan repeats the first corner to close the hexagon.
    EXPECT_EQ(lid.FloatAt(7, kPosition), lid.FloatAt(1, kPosition));
    EXPECT_EQ(lid.FloatAt(0, kPosition), crystal.body->Ring(2).centre.x);
}

TEST_F(CrystalDraw, FacesAreFlatWithOneSphereMapSampleEach)
{
    Grow(3);
    Matrix4 turn = MatrixIdentity();
    turn._11 = turn._33 = std::cos(0.3f);
    turn._13 = -std::sin(0.3f);
    turn._31 = std::sin(0.3f);
    const auto& draws = DrawCrystal(turn);
    ASSERT_EQ(draws.size(), 19u);
    const Matrix4& w = crystal.body->worldMatrix;
    const CrystalRing& ring = crystal.body->Ring(2);
    const CrystalRing& below = crystal.body->Ring(1);
    for (int i = 0; i < 6; ++i) {
        const RecordedDraw& face = draws[6 + i];  // the band of ring 2
        const int j = (i + 1) % 6;
        const Vector3 n = 0.25f * (ring.rim[i].Normal() + ring.rim[j].Normal() + below.rim[j].Normal() + below.rim[i].Normal());
        const float u = (n.x * w._11 + n.y * w._21 + n.z * w._31 + 1.0f) * 0.5f;
        const float v = (1.0f - (n.x * w._12 + n.y * w._22 + n.z * w._32)) * 0.5f;
        // Corners in the order top i, top j, bottom j, bottom i.
        EXPECT_EQ(face.FloatAt(0, kPosition), ring.rim[i].position[0]);
        EXPECT_EQ(face.FloatAt(1, kPosition), ring.rim[j].position[0]);
        EXPECT_EQ(face.FloatAt(2, kPosition + 4), below.rim[j].position[1]);
        EXPECT_EQ(face.FloatAt(3, kPosition + 8), below.rim[i].position[2]);
        for (UINT corner = 0; corner < 4; ++corner) {
            EXPECT_FLOAT_EQ(face.FloatAt(corner, kNormal), n.x);
            EXPECT_FLOAT_EQ(face.FloatAt(corner, kNormal + 8), n.z);
            EXPECT_EQ(face.DwordAt(corner, kDiffuse), 0xFFFFFFFFu);
            EXPECT_FLOAT_EQ(face.FloatAt(corner, kU), u);
            EXPECT_FLOAT_EQ(face.FloatAt(corner, kV), v);
        }
        // The average of four unit normals is not renormalised.
        EXPECT_LE(std::sqrt(Dot(n, n)), 1.0f + 1e-6f);
    }
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
    EXPECT_EQ(DrawCrystal().size(), 9u * 6u + 1u);
    ASSERT_TRUE(crystal.body->Animate(device, MatrixIdentity(), -4));
    // Rings 4..9 still draw their bands; the lid is gone.
    EXPECT_EQ(DrawCrystal().size(), 6u * 6u);
    crystal.Reset();
    Grow(2);
    EXPECT_EQ(DrawCrystal().size(), 13u);
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
    ASSERT_EQ(draws.size(), 16u * 19u);

    for (int k = 0; k < 8; ++k) {
        const RecordedDraw& upright = draws[k * 19];
        const RecordedDraw& mirrored = draws[(k + 8) * 19];
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
