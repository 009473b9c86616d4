// The incoming pictures: launch cadence, a full pool, flight and drawing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "support/SceneTestHost.h"
#include "scenery/IncomingImages.h"

namespace {


class IncomingImagesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(host.Start());
        HDC dc = host.BackBufferDC();
        ASSERT_TRUE(pool.Create(dc, &host.Renderer(), 640, 480));
        host.GiveBackDC(dc);
        picture.assign(IncomingImage::kPictureBytes, 0x80);
        std::srand(7);
    }

    SceneTestHost host;
    IncomingImages pool;
    std::vector<std::uint8_t> picture;
};

TEST_F(IncomingImagesTest, EveryFifthRequestLaunches)
{
    IDirect3DDevice9* device = host.Device();
    for (int i = 1; i <= 4; ++i) {
        EXPECT_FALSE(pool.Launch(device, picture.data())) << i;
        EXPECT_EQ(pool.InFlight(), 0);
    }
    EXPECT_TRUE(pool.Launch(device, picture.data()));
    EXPECT_EQ(pool.InFlight(), 1);
    EXPECT_TRUE(pool.Image(0).IsActive());
    EXPECT_EQ(pool.LaunchCounter(), 0);
    // The count starts over.
    for (int i = 1; i <= 4; ++i) EXPECT_FALSE(pool.Launch(device, picture.data()));
    EXPECT_TRUE(pool.Launch(device, picture.data()));
    EXPECT_TRUE(pool.Image(1).IsActive());
}

TEST_F(IncomingImagesTest, AFullPoolDropsTheLaunchAndCountsAgain)
{
    IDirect3DDevice9* device = host.Device();
    for (int launched = 0; launched < IncomingImages::kCount; ++launched)
        for (int i = 0; i < IncomingImages::kLaunchEvery; ++i) pool.Launch(device, picture.data());
    ASSERT_EQ(pool.InFlight(), 48);
    for (int i = 1; i <= 4; ++i) EXPECT_FALSE(pool.Launch(device, picture.data()));
    EXPECT_FALSE(pool.Launch(device, picture.data()));
    EXPECT_EQ(pool.LaunchCounter(), 0);
    EXPECT_EQ(pool.InFlight(), 48);
}

TEST_F(IncomingImagesTest, IdlePicturesAreNeitherMovedNorDrawn)
{
    IncomingImage& image = pool.Image(3);
    D3DXVECTOR2 before = image.Position();
    host.Recorder()->ClearDraws();
    pool.Step();
    pool.Draw(host.Device());
    EXPECT_EQ(image.Position().x, before.x);
    EXPECT_EQ(image.Position().y, before.y);
    EXPECT_TRUE(host.Recorder()->Draws().empty());
}

TEST_F(IncomingImagesTest, RadiusForTheLogicalScreen)
{
    EXPECT_EQ(pool.Image(0).Radius(), 848);
    EXPECT_EQ(IncomingImage::RadiusFor(640, 480), 848);
}

TEST_F(IncomingImagesTest, APictureStartsFarOutAndFliesToTheCentre)
{
    IncomingImage& image = pool.Image(0);
    const std::uint8_t* pixels = picture.data();
    for (int i = 0; i < 5; ++i) pool.Launch(host.Device(), pixels);
    ASSERT_TRUE(image.IsActive());

    // 976 pixels from the centre, plus 64 in x and y.
    const float startX = image.Position().x - 64.0f - 320.0f;
    const float startY = image.Position().y - 64.0f - 240.0f;
    EXPECT_NEAR(std::sqrt(startX * startX + startY * startY), 976.0f, 0.01f);
    const float dx = image.Direction().x, dy = image.Direction().y;
    EXPECT_NEAR(dx * dx + dy * dy, 1.0f, 1e-4f);

    float previous = image.Distance();
    int steps = 0;
    while (image.IsActive() && steps < 1000) {
        pool.Step();
        ++steps;
        if (image.IsActive()) {
            EXPECT_LT(image.Distance(), previous);
            previous = image.Distance();
        }
    }
    EXPECT_FALSE(image.IsActive());
    EXPECT_LT(image.Distance(), 12.0f);
    EXPECT_GT(steps, 290);
    EXPECT_LT(steps, 370);
}

TEST_F(IncomingImagesTest, TintComesFromTheTable)
{
    for (int i = 0; i < 5 * 20; ++i) pool.Launch(host.Device(), picture.data());
    for (int i = 0; i < 20; ++i) {
        IncomingImage::Tint t = pool.Image(i).CurrentTint();
        bool found = false;
        for (const auto& entry : IncomingImage::kTints)
            found = found || (entry.red == t.red && entry.green == t.green && entry.blue == t.blue);
        EXPECT_TRUE(found) << i;
    }
}

TEST_F(IncomingImagesTest, FarPicturesAreWholeAndOpaqueNearOnesShrinkAndFade)
{
    EXPECT_EQ(IncomingImage::ScaleAt(900.0f, 848), 1.0f);
    EXPECT_EQ(IncomingImage::AlphaAt(900.0f, 848), 255);
    EXPECT_NEAR(IncomingImage::ScaleAt(847.0f, 848), 2.0f, 0.01f);
    EXPECT_EQ(IncomingImage::AlphaAt(424.0f, 848), 191);
    EXPECT_EQ(IncomingImage::AlphaAt(0.0f, 848), 0);
    // Never wraps: from just inside the radius down, the alpha only falls.
    int previous = 255;
    for (int d = 847; d >= 0; --d) {
        int alpha = IncomingImage::AlphaAt(static_cast<float>(d), 848);
        EXPECT_LE(alpha, previous) << d;
        EXPECT_LE(alpha, 255);
        previous = alpha;
    }
}

TEST_F(IncomingImagesTest, AFlyingPictureIsDrawnTintedFromItsTopRows)
{
    for (int i = 0; i < 5; ++i) pool.Launch(host.Device(), picture.data());
    host.Recorder()->ClearDraws();
    pool.Draw(host.Device());
    ASSERT_EQ(host.Recorder()->Draws().size(), 1u);
    const RecordedDraw& draw = host.Recorder()->Draws().back();
    const IncomingImage& image = pool.Image(0);
    // Far out: whole size, opaque, the tint in the colour; 120 of 128 rows.
    EXPECT_FLOAT_EQ(draw.FloatAt(0, 0), image.Position().x);
    EXPECT_FLOAT_EQ(draw.FloatAt(0, 4), image.Position().y);
    EXPECT_FLOAT_EQ(draw.FloatAt(2, 0) - draw.FloatAt(0, 0), 128.0f);
    EXPECT_FLOAT_EQ(draw.FloatAt(2, 4) - draw.FloatAt(0, 4), 120.0f);
    const DWORD colour = draw.DwordAt(0, 16);
    const IncomingImage::Tint tint = image.CurrentTint();
    EXPECT_EQ(colour, D3DCOLOR_ARGB(255, tint.red, tint.green, tint.blue));
}

TEST_F(IncomingImagesTest, ADestroyedPoolDoesNothing)
{
    for (int i = 0; i < 5; ++i) pool.Launch(host.Device(), picture.data());
    pool.Destroy();
    pool.Destroy();
    EXPECT_FALSE(pool.IsCreated());
    host.Recorder()->ClearDraws();
    pool.Step();
    pool.Draw(host.Device());
    for (int i = 0; i < 5; ++i) EXPECT_FALSE(pool.Launch(host.Device(), picture.data()));
    EXPECT_EQ(pool.InFlight(), 0);
    EXPECT_TRUE(host.Recorder()->Draws().empty());
}

TEST_F(IncomingImagesTest, EveryPictureHeadsForTheCentre)
{
    for (int launched = 0; launched < IncomingImages::kCount; ++launched)
        for (int i = 0; i < IncomingImages::kLaunchEvery; ++i) pool.Launch(host.Device(), picture.data());
    for (int i = 0; i < IncomingImages::kCount; ++i) {
        const IncomingImage& image = pool.Image(i);
        ASSERT_TRUE(image.IsActive());
        const float ox = static_cast<float>(static_cast<int>(image.Position().x) - 320);
        const float oy = static_cast<float>(static_cast<int>(image.Position().y) - 240);
        const float length = std::sqrt(ox * ox + oy * oy);
        // The direction points from the centre to the start point; the picture moves against it.
        EXPECT_NEAR((ox * image.Direction().x + oy * image.Direction().y) / length, 1.0f, 1e-4f) << i;
    }
}

}  // namespace
