// The spark pool: emission into the lowest free slot, ageing, and what a
// spark looks like when drawn at birth, half-way and at death: a point
// sprite whose vertex holds the centre, the side and the colour.
#include <array>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "platform/d3d9/Matrices.h"
#include "platform/d3d9/RecordingDevice.h"
#include "support/DeviceTestSupport.h"
#include "scenery/LightSet.h"

namespace {

// Byte offsets in a spark vertex.
constexpr UINT kX = 0, kY = 4, kSide = 12, kColour = 16;

struct Recorder {
    Recorder()
    {
        device = testsupport::NewRecordingDevice();
    }
    ~Recorder() { device->Release(); }
    RecordingDevice* device;
};

class LightSetTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(lights.Create(recorder.device, SOLVANE_SOURCE_DIR "/data")); }

    // The point of the one spark drawn.
    RecordedDraw DrawOnce()
    {
        recorder.device->ClearDraws();
        lights.DrawParticles(recorder.device, MatrixIdentity());
        EXPECT_EQ(recorder.device->Draws().size(), 1u);
        if (recorder.device->Draws().empty()) return RecordedDraw{};
        return recorder.device->Draws().front();
    }

    Recorder recorder;
    LightSet lights;
};

TEST_F(LightSetTest, SparkShrinksAndFadesOverItsLife)
{
    ASSERT_TRUE(lights.Emit(SparkRecord{100.0f, 50.0f, 4.0f, 512, 512, 0.0f, 0.0f}));
    {
        const RecordedDraw& draw = DrawOnce();
        EXPECT_EQ(draw.type, D3DPT_POINTLIST);
        EXPECT_EQ(draw.primitiveCount, 1u);
        EXPECT_EQ(draw.fvf, SparkVertexFormat);
        EXPECT_TRUE(draw.fromBuffers);
        // An 8 x 8 square about (100, 50) at full brightness.
        EXPECT_EQ(draw.FloatAt(0, kX), 100.0f);
        EXPECT_EQ(draw.FloatAt(0, kY), 50.0f);
        EXPECT_EQ(draw.FloatAt(0, kSide), 8.0f);
        EXPECT_EQ(draw.DwordAt(0, kColour), 0xFFFFFFFFu);
    }
    for (int step = 0; step < 256; ++step) lights.UpdateParticles(recorder.device, MatrixIdentity());
    {
        // A 4 x 4 square at level 127 in every byte.
        const RecordedDraw& draw = DrawOnce();
        EXPECT_EQ(draw.FloatAt(0, kX), 100.0f);
        EXPECT_EQ(draw.FloatAt(0, kSide), 4.0f);
        EXPECT_EQ(draw.DwordAt(0, kColour), 0x7F7F7F7Fu);
    }
    for (int step = 0; step < 256; ++step) lights.UpdateParticles(recorder.device, MatrixIdentity());
    EXPECT_EQ(lights.Particle(0).life, 0);
    EXPECT_EQ(lights.LiveCount(), 0);
    recorder.device->ClearDraws();
    lights.DrawParticles(recorder.device, MatrixIdentity());
    EXPECT_TRUE(recorder.device->Draws().empty());
}

TEST_F(LightSetTest, SparkDriftsAgainstItsStepVector)
{
    ASSERT_TRUE(lights.Emit(SparkRecord{10.0f, 20.0f, 4.0f, 600, 600, 0.6f, -0.8f}));
    for (int step = 0; step < 10; ++step) lights.UpdateParticles(recorder.device, MatrixIdentity());
    EXPECT_NEAR(lights.Particle(0).x, 4.0f, 1e-4f);
    EXPECT_NEAR(lights.Particle(0).y, 28.0f, 1e-4f);
    EXPECT_EQ(lights.Particle(0).life, 590);
}

TEST_F(LightSetTest, EverlastingSparkNeverAgesNorMoves)
{
    ASSERT_TRUE(lights.Emit(SparkRecord{10.0f, 20.0f, 3.0f, 5, -1, 1.0f, 1.0f}));
    for (int step = 0; step < 10; ++step) lights.UpdateParticles(recorder.device, MatrixIdentity());
    EXPECT_EQ(lights.Particle(0).life, 5);
    EXPECT_EQ(lights.Particle(0).x, 10.0f);
    const RecordedDraw& draw = DrawOnce();
    EXPECT_EQ(draw.FloatAt(0, kX), 10.0f);
    EXPECT_EQ(draw.FloatAt(0, kSide), 6.0f);
    EXPECT_EQ(draw.DwordAt(0, kColour), 0xFFFFFFFFu);
}

TEST_F(LightSetTest, EmitFillsTheLowestFreeSlotAndDropsWhenFull)
{
    ASSERT_TRUE(lights.Emit(SparkRecord{1.0f, 0.0f, 4.0f, 2, 2, 0.0f, 0.0f}));
    ASSERT_TRUE(lights.Emit(SparkRecord{2.0f, 0.0f, 4.0f, 10, 10, 0.0f, 0.0f}));
    lights.UpdateParticles(recorder.device, MatrixIdentity());
    lights.UpdateParticles(recorder.device, MatrixIdentity());
    // Slot 0 died; the next spark takes it, not slot 2.
    ASSERT_TRUE(lights.Emit(SparkRecord{3.0f, 0.0f, 4.0f, 10, 10, 0.0f, 0.0f}));
    EXPECT_EQ(lights.Particle(0).x, 3.0f);
    // A spark born dead takes a slot but leaves it free.
    ASSERT_TRUE(lights.Emit(SparkRecord{4.0f, 0.0f, 4.0f, 0, 10, 0.0f, 0.0f}));
    ASSERT_TRUE(lights.Emit(SparkRecord{5.0f, 0.0f, 4.0f, 10, 10, 0.0f, 0.0f}));
    EXPECT_EQ(lights.Particle(2).x, 5.0f);

    while (lights.LiveCount() < LightSet::Capacity) ASSERT_TRUE(lights.Emit(SparkRecord{6.0f, 0.0f, 4.0f, 10, 10, 0.0f, 0.0f}));
    EXPECT_FALSE(lights.Emit(SparkRecord{7.0f, 0.0f, 4.0f, 10, 10, 0.0f, 0.0f}));
    for (int slot = 0; slot < LightSet::Capacity; ++slot) ASSERT_NE(lights.Particle(slot).x, 7.0f);
}

TEST_F(LightSetTest, DrawingUsesTheFirstTextureForSlotZeroOnlyAndRestoresState)
{
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(lights.Emit(SparkRecord{50.0f + static_cast<float>(i), 50.0f, 4.0f, 100, 100, 0.0f, 0.0f}));
    D3DMATRIX projectionBefore{};
    projectionBefore._11 = 3.0f;
    projectionBefore._34 = 1.0f;
    recorder.device->SetTransform(D3DTS_PROJECTION, &projectionBefore);
    recorder.device->ClearDraws();
    lights.DrawParticles(recorder.device, MatrixIdentity());
    const auto& draws = recorder.device->Draws();
    // Slot 0 alone with its own glow, every other spark in one draw.
    ASSERT_EQ(draws.size(), 2u);
    EXPECT_EQ(draws[0].state->textures[0], lights.firstTexture.texture);
    EXPECT_EQ(draws[0].VertexCount(), 1u);
    EXPECT_EQ(draws[0].FloatAt(0, kX), 50.0f);
    EXPECT_EQ(draws[1].state->textures[0], lights.secondTexture.texture);
    EXPECT_EQ(draws[1].type, D3DPT_POINTLIST);
    ASSERT_EQ(draws[1].VertexCount(), 2u);
    EXPECT_EQ(draws[1].FloatAt(0, kX), 51.0f);
    EXPECT_EQ(draws[1].FloatAt(1, kX), 52.0f);
    const DeviceState& s = *draws[0].state;
    EXPECT_EQ(s.RenderState(D3DRS_POINTSPRITEENABLE), static_cast<DWORD>(TRUE));
    EXPECT_EQ(s.RenderState(D3DRS_POINTSCALEENABLE), static_cast<DWORD>(FALSE));
    EXPECT_EQ(s.RenderStateFloat(D3DRS_POINTSIZE_MIN), 0.0f);
    // The transforms in force take a spark's pixel position to that pixel:
    // x from -1 at the left edge to 1 at the right, y from 1 at the top down.
    const D3DMATRIX all = MultiplyMatrices(MultiplyMatrices(s.world, s.view), s.projection);
    auto ndc = [&](float x, float y) {
        const float w = x * all._14 + y * all._24 + all._44;
        return std::array<float, 3>{(x * all._11 + y * all._21 + all._41) / w, (x * all._12 + y * all._22 + all._42) / w,
                                    (x * all._13 + y * all._23 + all._43) / w};
    };
    EXPECT_NEAR(ndc(0.0f, 0.0f)[0], -1.0f, 1e-6f);
    EXPECT_NEAR(ndc(0.0f, 0.0f)[1], 1.0f, 1e-6f);
    EXPECT_NEAR(ndc(640.0f, 480.0f)[0], 1.0f, 1e-6f);
    EXPECT_NEAR(ndc(640.0f, 480.0f)[1], -1.0f, 1e-6f);
    EXPECT_NEAR(ndc(160.0f, 120.0f)[0], -0.5f, 1e-6f);
    EXPECT_GT(ndc(320.0f, 240.0f)[2], 0.0f);
    EXPECT_LT(ndc(320.0f, 240.0f)[2], 1.0f);
    testsupport::ExpectRenderStates(s, {{D3DRS_ALPHABLENDENABLE, TRUE}, {D3DRS_SRCBLEND, D3DBLEND_ONE},
                                        {D3DRS_DESTBLEND, D3DBLEND_ONE}, {D3DRS_ZWRITEENABLE, FALSE},
                                        {D3DRS_LIGHTING, FALSE}, {D3DRS_ZFUNC, D3DCMP_ALWAYS}});
    EXPECT_EQ(s.SamplerState(0, D3DSAMP_ADDRESSU), static_cast<DWORD>(D3DTADDRESS_CLAMP));

    DWORD value = 0;
    recorder.device->GetRenderState(D3DRS_ZFUNC, &value);
    EXPECT_EQ(value, static_cast<DWORD>(D3DCMP_LESSEQUAL));
    recorder.device->GetRenderState(D3DRS_ALPHABLENDENABLE, &value);
    EXPECT_EQ(value, static_cast<DWORD>(FALSE));
    recorder.device->GetRenderState(D3DRS_FOGENABLE, &value);
    EXPECT_EQ(value, static_cast<DWORD>(TRUE));
    recorder.device->GetRenderState(D3DRS_POINTSPRITEENABLE, &value);
    EXPECT_EQ(value, static_cast<DWORD>(FALSE));
    recorder.device->GetRenderState(D3DRS_POINTSIZE_MIN, &value);
    EXPECT_EQ(DwordToFloat(value), 1.0f);
    recorder.device->GetSamplerState(0, D3DSAMP_ADDRESSV, &value);
    EXPECT_EQ(value, static_cast<DWORD>(D3DTADDRESS_WRAP));
    IDirect3DTexture9* texture = nullptr;
    recorder.device->GetTexture(0, &texture);
    EXPECT_EQ(texture, nullptr);
    D3DMATRIX projection{};
    recorder.device->GetTransform(D3DTS_PROJECTION, &projection);
    EXPECT_EQ(std::memcmp(&projection, &projectionBefore, sizeof projection), 0) << "the projection is put back";
}

// The dense list of live sparks against the plain rule it replaces: every
// slot scanned, a spark takes the lowest slot whose life is below 1, every
// live spark ages by one step. Random births, lifespans and everlasting
// sparks; the slots, the count and the drawn order must agree throughout.
TEST_F(LightSetTest, LiveListAgreesWithAScanOfEverySlot)
{
    struct Slot {
        float x = 0.0f;
        int life = 0;
        int lifespan = 0;
    };
    std::vector<Slot> model(LightSet::Capacity);
    std::mt19937 random(12345);
    auto lifeOf = [&](int kind) { return kind == 0 ? 0 : 1 + static_cast<int>(random() % 40); };
    for (int round = 0; round < 300; ++round) {
        const int births = static_cast<int>(random() % 200);
        for (int b = 0; b < births; ++b) {
            const int life = lifeOf(static_cast<int>(random() % 20));
            const int lifespan = random() % 50 == 0 ? -1 : life;
            const float x = static_cast<float>(round * 1000 + b);
            int slot = 0;
            while (slot < LightSet::Capacity && model[slot].life >= 1) ++slot;
            const bool stored = slot < LightSet::Capacity;
            if (stored) model[slot] = Slot{x, life, lifespan};
            ASSERT_EQ(lights.Emit(SparkRecord{x, 0.0f, 4.0f, life, lifespan, 1.0f, 0.0f}), stored);
        }
        lights.UpdateParticles(recorder.device, MatrixIdentity());
        for (Slot& m : model)
            if (m.life > 0 && m.lifespan != -1) {
                m.life -= 1;
                m.x -= 1.0f;
            }
        int live = 0;
        for (const Slot& m : model) live += m.life >= 1;
        ASSERT_EQ(lights.LiveCount(), live) << "round " << round;
        if (round % 50 != 49) continue;
        // Drawn in slot order: the left edge of each square, x minus its half side.
        std::vector<float> drawn;
        for (int slot = 0; slot < LightSet::Capacity; ++slot) {
            const Slot& m = model[slot];
            if (m.life < 1) continue;
            ASSERT_EQ(lights.Particle(slot).x, m.x) << "slot " << slot;
            ASSERT_EQ(lights.Particle(slot).life, m.life) << "slot " << slot;
            const float f = m.lifespan == -1 ? 1.0f : static_cast<float>(m.life) / static_cast<float>(m.lifespan);
            drawn.push_back(m.x - f * 4.0f);
        }
        recorder.device->ClearDraws();
        lights.DrawParticles(recorder.device, MatrixIdentity());
        std::vector<float> recorded;
        for (const RecordedDraw& draw : recorder.device->Draws())
            for (UINT v = 0; v < draw.VertexCount(); ++v)
                recorded.push_back(draw.FloatAt(v, kX) - draw.FloatAt(v, kSide) / 2.0f);
        EXPECT_EQ(recorded, drawn) << "round " << round;
    }
}

TEST(LightSet, MissingTextureFailsCreation)
{
    Recorder recorder;
    LightSet lights;
    EXPECT_FALSE(lights.Create(recorder.device, "/nonexistent-folder"));
}

}  // namespace
