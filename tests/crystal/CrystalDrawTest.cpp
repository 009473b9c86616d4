// What the cluster sends to the device: all sixteen crystals' bands and
// lids in one draw, each vertex under its own crystal's world matrix, the
// normals and sphere-map coordinates, the states in force, and the mirrored
// crystals. The drawn triangles are compared with ones made directly from
// the rings, also while the crystals are out of step with each other.
#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <tuple>
#include <vector>

#include "CrystalFixture.h"
#include "crystal/Crystal.h"
#include "crystal/CrystalCluster.h"

namespace {

constexpr UINT kPosition = 0, kMatrix = 12, kNormal = 16, kDiffuse = 28;

// One triangle as drawn: the crystal whose matrix it uses and its corners.
struct Triangle {
    int crystal;
    std::array<float, 9> corners;
    bool operator<(const Triangle& o) const { return std::tie(crystal, corners) < std::tie(o.crystal, o.corners); }
    bool operator==(const Triangle& o) const { return crystal == o.crystal && corners == o.corners; }
};

// The triangles of a draw that cover any area (empty ones join nothing).
std::vector<Triangle> DrawnTriangles(const RecordedDraw& draw)
{
    std::vector<Triangle> out;
    for (std::size_t t = 0; t + 2 < draw.indices.size(); t += 3) {
        const std::uint32_t a = draw.indices[t], b = draw.indices[t + 1], c = draw.indices[t + 2];
        if (a == b && b == c) continue;
        Triangle tri{static_cast<int>(draw.DwordAt(a, kMatrix) & 0xFF), {}};
        const std::uint32_t corner[3] = {a, b, c};
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(draw.DwordAt(corner[i], kMatrix) & 0xFF, static_cast<DWORD>(tri.crystal));
            for (int j = 0; j < 3; ++j) tri.corners[i * 3 + j] = draw.FloatAt(corner[i], kPosition + 4 * j);
        }
        out.push_back(tri);
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::array<float, 9> Corners(const Vector3& a, const Vector3& b, const Vector3& c)
{
    return {a.x, a.y, a.z, b.x, b.y, b.z, c.x, c.y, c.z};
}

// The triangles a body shows, made from its rings: per face of a shown band
// the fan (top i, top i+1, bottom i+1), (top i, bottom i+1, bottom i), and
// the lid's fan about the centre.
std::vector<Triangle> ExpectedTriangles(int k, const CrystalBody& body)
{
    std::vector<Triangle> out;
    for (int ring = body.FirstBand(); ring < body.shownRings; ++ring) {
        const CrystalRing& top = body.Ring(ring);
        const CrystalRing& bottom = body.Ring(ring - 1);
        for (int i = 0; i < 6; ++i) {
            const int j = (i + 1) % 6;
            out.push_back({k, Corners(top.rim[i].Position(), top.rim[j].Position(), bottom.rim[j].Position())});
            out.push_back({k, Corners(top.rim[i].Position(), bottom.rim[j].Position(), bottom.rim[i].Position())});
        }
    }
    if (body.LidRing() >= 0) {
        const CrystalRing& lid = body.Ring(body.LidRing());
        for (int i = 0; i < 6; ++i)
            out.push_back({k, Corners(lid.centre, lid.rim[i].Position(), lid.rim[(i + 1) % 6].Position())});
    }
    return out;
}

class CrystalDraw : public CrystalFixture {
protected:
    void SetUp() override
    {
        CrystalFixture::SetUp();
        ASSERT_TRUE(cluster.Create(&world, device));
    }
    const std::vector<RecordedDraw>& DrawCluster(const Matrix4& matrix = MatrixIdentity())
    {
        device->ClearDraws();
        cluster.Draw(device, matrix);
        return device->Draws();
    }
    CrystalBody& Body(int k) { return *cluster.crystals[k]->body; }
    void Grow(int k, int rings, float turn = 90.0f)
    {
        for (int i = 0; i < rings; ++i) ASSERT_TRUE(Body(k).GrowStep(0.8f, 10.0f, turn, 1.2f, 1, 5000));
    }
    std::vector<Triangle> Expected()
    {
        std::vector<Triangle> all;
        for (int k = 0; k < CrystalCluster::Count; ++k) {
            auto one = ExpectedTriangles(k, Body(k));
            all.insert(all.end(), one.begin(), one.end());
        }
        std::sort(all.begin(), all.end());
        return all;
    }

    CrystalCluster cluster;
};

TEST_F(CrystalDraw, SeedAloneDrawsNothingTwoRingsABandThreeRingsALid)
{
    EXPECT_TRUE(DrawCluster().empty());
    Body(3).shownRings = 1;
    EXPECT_TRUE(DrawCluster().empty());

    Grow(3, 1);
    const auto& band = DrawCluster();
    ASSERT_EQ(band.size(), 1u);
    EXPECT_TRUE(band[0].fromBuffers);
    EXPECT_EQ(band[0].type, D3DPT_TRIANGLELIST);
    EXPECT_EQ(band[0].stride, 32u);
    EXPECT_EQ(band[0].fvf, CrystalVertexFormat);
    // Six faces of two triangles each.
    EXPECT_EQ(DrawnTriangles(band[0]).size(), 12u);
    EXPECT_EQ(DrawnTriangles(band[0]), Expected());

    Grow(3, 1);
    const auto& capped = DrawCluster();
    ASSERT_EQ(capped.size(), 1u);
    EXPECT_EQ(DrawnTriangles(capped[0]).size(), 24u + 6u);
    EXPECT_EQ(DrawnTriangles(capped[0]), Expected());
}

TEST_F(CrystalDraw, SixteenCrystalsGoOutAsOneDrawEachUnderItsOwnWorldMatrix)
{
    for (int k = 0; k < CrystalCluster::Count; ++k) Grow(k, 3 + k % 4, 20.0f * static_cast<float>(k));
    Matrix4 turn = MatrixIdentity();
    turn._11 = turn._33 = std::cos(0.3f);
    turn._13 = -std::sin(0.3f);
    turn._31 = std::sin(0.3f);
    const auto& draws = DrawCluster(turn);
    ASSERT_EQ(draws.size(), 1u);
    const RecordedDraw& draw = draws[0];
    const DeviceState& s = *draw.state;
    EXPECT_TRUE(s.BlendsByIndex());
    EXPECT_EQ(DrawnTriangles(draw), Expected());

    // Every vertex takes the world matrix of its crystal, which is that
    // crystal's placement: M x T x R, the mirrored ones with M x Mirror.
    for (UINT v = 0; v < draw.VertexCount(); ++v) {
        const int k = static_cast<int>(draw.DwordAt(v, kMatrix) & 0xFF);
        ASSERT_LT(k, CrystalCluster::Count);
        const D3DMATRIX& w = draw.WorldOf(v);
        const Matrix4& placed = Body(k).worldMatrix;
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c) ASSERT_EQ(w.m[r][c], placed.m[r][c]) << "vertex " << v;
    }
    for (int k = 0; k < 8; ++k) {
        SCOPED_TRACE(k);
        const D3DMATRIX& a = s.WorldMatrix(static_cast<unsigned>(k));
        const D3DMATRIX& b = s.WorldMatrix(static_cast<unsigned>(k + 8));
        Matrix4 translation = MatrixIdentity();
        translation._41 = 12.0f * std::cos(45.0f * static_cast<float>(k) * DegreesToRadians);
        translation._43 = 12.0f * std::sin(45.0f * static_cast<float>(k) * DegreesToRadians);
        const Matrix4 standing = MultiplyMatrices(turn, translation);
        // Standing on the circle of radius 12, 45 degrees apart, turned by M.
        EXPECT_NEAR(a._41, standing._41, 1e-4f);
        EXPECT_NEAR(a._43, standing._43, 1e-4f);
        // The twin is the same placement reflected in y = 0.
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c) EXPECT_NEAR(b.m[r][c], r == 1 ? -a.m[r][c] : a.m[r][c], 1e-5f);
    }
    // A reflection reverses the winding, so nothing may be culled.
    EXPECT_EQ(s.RenderState(D3DRS_CULLMODE), static_cast<DWORD>(D3DCULL_NONE));

    // The states the draw used are not left behind for the next drawer.
    DWORD value = 1;
    device->GetRenderState(D3DRS_INDEXEDVERTEXBLENDENABLE, &value);
    EXPECT_EQ(value, static_cast<DWORD>(FALSE));
    device->GetTextureStageState(0, D3DTSS_TEXCOORDINDEX, &value);
    EXPECT_EQ(value, 0u);
    IDirect3DTexture9* after = nullptr;
    device->GetTexture(0, &after);
    EXPECT_EQ(after, nullptr);
}

// The sphere-map coordinates the device makes from a vertex: the normal
// turned to camera space by the vertex's world matrix and the view, then by
// the texture transform.
void GeneratedCoordinates(const RecordedDraw& draw, UINT vertex, float& u, float& v)
{
    const DeviceState& s = *draw.state;
    EXPECT_EQ(s.StageState(0, D3DTSS_TEXCOORDINDEX), D3DTSS_TCI_CAMERASPACENORMAL);
    EXPECT_EQ(s.StageState(0, D3DTSS_TEXTURETRANSFORMFLAGS), static_cast<DWORD>(D3DTTFF_COUNT2));
    const D3DMATRIX& w = draw.WorldOf(vertex);
    const float n[3] = {draw.FloatAt(vertex, kNormal), draw.FloatAt(vertex, kNormal + 4),
                        draw.FloatAt(vertex, kNormal + 8)};
    float inWorld[3], camera[3];
    for (int c = 0; c < 3; ++c) inWorld[c] = n[0] * w.m[0][c] + n[1] * w.m[1][c] + n[2] * w.m[2][c];
    for (int c = 0; c < 3; ++c)
        camera[c] = inWorld[0] * s.view.m[0][c] + inWorld[1] * s.view.m[1][c] + inWorld[2] * s.view.m[2][c];
    const D3DMATRIX& t = s.texture0;
    u = camera[0] * t._11 + camera[1] * t._21 + camera[2] * t._31 + t._41;
    v = camera[0] * t._12 + camera[1] * t._22 + camera[2] * t._32 + t._42;
}

TEST_F(CrystalDraw, FacesAreFlatWithOneSphereMapSampleEach)
{
    Grow(5, 3);
    Grow(13, 3);
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
    const auto& draws = DrawCluster(turn);
    ASSERT_EQ(draws.size(), 1u);
    const RecordedDraw& draw = draws[0];
    EXPECT_EQ(draw.state->textures[0], cluster.crystals[0]->sphereMap.texture);
    EXPECT_NE(draw.state->textures[0], nullptr);
    EXPECT_EQ(draw.state->RenderState(D3DRS_SPECULARMATERIALSOURCE), static_cast<DWORD>(D3DMCS_MATERIAL));
    EXPECT_EQ(draw.state->material.Diffuse.r, 1.0f);
    EXPECT_EQ(draw.state->material.Emissive.g, 0.0f);
    EXPECT_EQ(draw.state->material.Power, 10.0f);

    int faces = 0, lids = 0;
    for (std::size_t t = 0; t + 2 < draw.indices.size(); t += 3) {
        const std::uint32_t corner[3] = {draw.indices[t], draw.indices[t + 1], draw.indices[t + 2]};
        if (corner[0] == corner[1] && corner[1] == corner[2]) continue;
        const int k = static_cast<int>(draw.DwordAt(corner[0], kMatrix) & 0xFF);
        const Matrix4& w = Body(k).worldMatrix;
        // Which face: a band face's normal is the mean of its four corners'
        // rim normals; a lid's is the top ring's axis.
        const float nx = draw.FloatAt(corner[0], kNormal), ny = draw.FloatAt(corner[0], kNormal + 4),
                    nz = draw.FloatAt(corner[0], kNormal + 8);
        bool known = false;
        const CrystalBody& body = Body(k);
        for (int ring = 1; ring < body.shownRings && !known; ++ring) {
            const CrystalRing& top = body.Ring(ring);
            const CrystalRing& below = body.Ring(ring - 1);
            for (int i = 0; i < 6 && !known; ++i) {
                const int j = (i + 1) % 6;
                const Vector3 n = 0.25f * (top.rim[i].Normal() + top.rim[j].Normal() + below.rim[j].Normal() +
                                           below.rim[i].Normal());
                // The average of four unit normals is not renormalised.
                if (nx == n.x && ny == n.y && nz == n.z) known = true;
            }
        }
        const Vector3 axis = body.Ring(body.LidRing()).axis;
        if (!known && nx == axis.x && ny == axis.y && nz == axis.z) {
            known = true;
            ++lids;
        }
        EXPECT_TRUE(known);
        ++faces;
        for (const std::uint32_t c : corner) {
            EXPECT_EQ(draw.DwordAt(c, kDiffuse), 0xFFFFFFFFu);
            EXPECT_EQ(draw.FloatAt(c, kNormal), nx);
            EXPECT_EQ(draw.FloatAt(c, kNormal + 8), nz);
            float gu, gv;
            GeneratedCoordinates(draw, c, gu, gv);
            EXPECT_NEAR(gu, (nx * w._11 + ny * w._21 + nz * w._31 + 1.0f) * 0.5f, 1e-5f);
            EXPECT_NEAR(gv, (1.0f - (nx * w._12 + ny * w._22 + nz * w._32)) * 0.5f, 1e-5f);
        }
    }
    EXPECT_EQ(faces, 2 * (3 * 12 + 6));
    EXPECT_EQ(lids, 2 * 6);
}

TEST_F(CrystalDraw, OnlyTheRingsBuiltOrBentSinceTheLastDrawAreWritten)
{
    Grow(0, 5);
    DrawCluster();
    EXPECT_EQ(Body(0).StaleFrom(), Body(0).builtRings);
    // A new ring bends the one below it: two bands to write again.
    Grow(0, 1);
    EXPECT_EQ(Body(0).StaleFrom(), Body(0).builtRings - 2);
    const auto& draws = DrawCluster();
    ASSERT_EQ(draws.size(), 1u);
    EXPECT_EQ(Body(0).StaleFrom(), Body(0).builtRings);
    // The bent ring's band shows its new rim.
    EXPECT_EQ(DrawnTriangles(draws[0]), Expected());
}

TEST_F(CrystalDraw, LidGoesAtTheFirstDissolvingStepAndComesBackWithTheReset)
{
    Grow(7, 9);
    EXPECT_EQ(DrawnTriangles(DrawCluster()[0]).size(), 9u * 12u + 6u);
    ASSERT_TRUE(Body(7).Animate(device, MatrixIdentity(), -4));
    // Rings 4..9 still draw their bands; the lid is gone.
    EXPECT_EQ(DrawnTriangles(DrawCluster()[0]).size(), 6u * 12u);
    cluster.crystals[7]->Reset();
    EXPECT_TRUE(DrawCluster().empty());
    Grow(7, 2);
    const auto& regrown = DrawCluster();
    ASSERT_EQ(regrown.size(), 1u);
    EXPECT_EQ(DrawnTriangles(regrown[0]).size(), 2u * 12u + 6u);
    EXPECT_EQ(DrawnTriangles(regrown[0]), Expected());
}

// Crystals grow, dissolve and start again each on its own schedule, so the
// range of rings the draw covers moves up and down under them; after every
// step the draw shows exactly what the bodies show.
TEST_F(CrystalDraw, CrystalsOutOfStepShowExactlyTheirOwnRings)
{
    std::mt19937 random(11);
    for (int step = 0; step < 300; ++step) {
        for (int k = 0; k < CrystalCluster::Count; ++k) {
            CrystalBody& body = Body(k);
            const unsigned roll = random() % 10;
            if (roll < 5 && body.capVisible && body.builtRings < 60) {
                Grow(k, 1 + static_cast<int>(random() % 2), static_cast<float>(random() % 360));
            } else if (roll < 8 && body.shownRings > 1) {
                body.Animate(device, MatrixIdentity(), -static_cast<std::int32_t>(1 + random() % 4));
            } else if (roll == 9 && random() % 4 == 0) {
                body.ResetShape(0.1f);
            }
        }
        const auto& draws = DrawCluster();
        const auto expected = Expected();
        if (expected.empty()) {
            EXPECT_TRUE(draws.empty());
            continue;
        }
        ASSERT_EQ(draws.size(), 1u) << "step " << step;
        const auto drawn = DrawnTriangles(draws[0]);
        for (int k = 0; k < CrystalCluster::Count; ++k) {
            auto of = [k](const std::vector<Triangle>& all) {
                return std::count_if(all.begin(), all.end(), [k](const Triangle& t) { return t.crystal == k; });
            };
            ASSERT_EQ(of(drawn), of(expected)) << "crystal " << k << " at step " << step;
        }
        ASSERT_TRUE(drawn == expected) << "step " << step;
    }
}

}  // namespace
