// Sparks on the OpenGL backend look as the textured squares of their
// definition: every spark is also drawn here the plain way, as a fan of two
// triangles with the glow texture across it, and the two frames must agree
// pixel for pixel within a few levels. The sparks cover the cases that
// differ between points and squares: sides narrower than a pixel, centres
// on and between pixel centres, and sparks half off the screen.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <random>
#include <vector>

#include "render/RenderDevice.h"
#include "scenery/LightSet.h"
#include "support/GlTestDevice.h"
#include "support/OffscreenRenderTest.h"

using testsupport::Frame;
using testsupport::ReadFrame;

namespace {

struct SquareVertex {
    float x, y, z, rhw;
    D3DCOLOR diffuse;
    float u, v;
};

class LightSetPixelTest : public testsupport::OffscreenRenderTest {
protected:
    void SetUp() override
    {
        OffscreenRenderTest::SetUp();
        if (device == nullptr) return;
        ASSERT_TRUE(lights.Create(device, SOLVANE_SOURCE_DIR "/data"));
    }

    Frame DrawnBy(const std::function<void()>& draw)
    {
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
        device->BeginScene();
        draw();
        device->EndScene();
        return ReadFrame(device);
    }

    // The spark in `slot` as its definition draws it: corners at the centre
    // plus and minus f * size, u running down and v across, every corner in
    // the spark's level; slot 0 with the first glow, the others the second.
    void DrawSquare(int slot)
    {
        const LightParticle& p = lights.Particle(slot);
        const float f = p.lifespan == -1 ? 1.0f : static_cast<float>(p.life) / static_cast<float>(p.lifespan);
        const float g = f * p.size;
        const unsigned level = static_cast<unsigned>(f * 255.0f);
        const D3DCOLOR colour = (level << 24) | (level << 16) | (level << 8) | level;
        const SquareVertex fan[4] = {{p.x - g, p.y - g, 0.0f, 1.0f, colour, 0.0f, 0.0f},
                                     {p.x + g, p.y - g, 0.0f, 1.0f, colour, 0.0f, 1.0f},
                                     {p.x + g, p.y + g, 0.0f, 1.0f, colour, 1.0f, 1.0f},
                                     {p.x - g, p.y + g, 0.0f, 1.0f, colour, 1.0f, 0.0f}};
        device->SetTexture(0, slot == 0 ? lights.firstTexture.texture : lights.secondTexture.texture);
        device->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 2, fan, sizeof(SquareVertex));
    }

    void DrawSquares(int count)
    {
        // The sparks' own state; what differs is only the geometry.
        LightSet::UseSparkState(device);
        device->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1);
        for (int slot = 0; slot < count; ++slot)
            if (lights.Particle(slot).life >= 1) DrawSquare(slot);
    }

    LightSet lights;
};

TEST_F(LightSetPixelTest, SparksLookLikeTheTexturedSquaresTheyStandFor)
{
    std::mt19937 random(2024);
    auto uniform = [&](float low, float high) {
        return low + (high - low) * static_cast<float>(random() % 100000) / 100000.0f;
    };
    int count = 0;
    auto emit = [&](float x, float y, float size, int life, int lifespan) {
        ASSERT_TRUE(lights.Emit(SparkRecord{x, y, size, life, lifespan, 0.0f, 0.0f}));
        ++count;
    };
    // Slot 0, with its own glow, large and bright.
    emit(320.0f, 240.0f, 12.0f, 100, 100);
    // On pixel centres and on pixel corners, whole and half sizes.
    emit(100.5f, 100.5f, 4.0f, 512, 512);
    emit(120.0f, 100.0f, 4.0f, 512, 512);
    emit(140.25f, 100.75f, 3.5f, 300, 512);
    // Narrower than a pixel: lit only where the square covers a pixel centre.
    for (int i = 0; i < 200; ++i) emit(uniform(20.0f, 620.0f), uniform(300.0f, 460.0f), 4.0f, 1 + i % 60, 512);
    // Half off every edge of the screen.
    emit(-2.0f, 200.0f, 4.0f, 512, 512);
    emit(641.5f, 210.0f, 4.0f, 512, 512);
    emit(300.0f, -1.25f, 4.0f, 512, 512);
    emit(310.0f, 482.0f, 4.0f, 512, 512);
    // Many ordinary ones, overlapping, as a dissolving crystal throws them.
    for (int i = 0; i < 3000; ++i)
        emit(uniform(150.0f, 490.0f), uniform(60.0f, 280.0f), 4.0f, static_cast<int>(random() % 512) + 1, 512);

    const Frame points = DrawnBy([&] { lights.DrawParticles(device, MatrixIdentity()); });
    const Frame squares = DrawnBy([&] { DrawSquares(count); });
    testsupport::KeepFrame(points, "sparks_as_points");
    testsupport::KeepFrame(squares, "sparks_as_squares");
    ASSERT_EQ(points.rgb.size(), squares.rgb.size());
    ASSERT_FALSE(points.rgb.empty());

    int worst = 0, lit = 0, differing = 0;
    for (std::size_t i = 0; i < points.rgb.size(); ++i) {
        const int d = std::abs(points.rgb[i] - squares.rgb[i]);
        worst = std::max(worst, d);
        differing += d > 0;
        lit += squares.rgb[i] > 0;
    }
    EXPECT_GT(lit, 20000) << "the squares light the screen";
    EXPECT_LE(worst, 4) << "a spark is drawn other than its square";
    EXPECT_LT(differing, lit / 20);
    // The edges: the inner parts of the sparks half off the screen show.
    EXPECT_GT(points.R(0, 200), 0);
    EXPECT_GT(points.R(639, 210), 0);
    EXPECT_GT(points.R(300, 0), 0);
    EXPECT_GT(points.R(310, 479), 0);
}

}  // namespace
