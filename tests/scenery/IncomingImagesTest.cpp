// The incoming pictures: launch cadence, a full pool, flight and drawing
// (all pictures in flight as one draw from their cells of the shared
// texture), and what a launch writes into that texture.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "platform/d3d9/MemoryTexture.h"
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

// Every picture in flight goes out in one draw from the shared texture:
// quad k is picture k in index order, placed, scaled and tinted as it flies,
// its texture coordinates framing the top 120 rows of its own cell.
TEST_F(IncomingImagesTest, AllPicturesInFlightAreOneDrawFromTheirOwnCells)
{
    IDirect3DDevice9* device = host.Device();
    for (int launched = 0; launched < IncomingImages::kCount; ++launched)
        for (int i = 0; i < IncomingImages::kLaunchEvery; ++i) pool.Launch(device, picture.data());
    ASSERT_EQ(pool.InFlight(), IncomingImages::kCount);
    // Some far out, some inside the radius (shrinking and fading).
    for (int step = 0; step < 200; ++step) pool.Step();
    ASSERT_EQ(pool.InFlight(), IncomingImages::kCount);

    host.Recorder()->ClearDraws();
    pool.Draw(device);
    ASSERT_EQ(host.Recorder()->Draws().size(), 1u);
    const RecordedDraw& draw = host.Recorder()->Draws()[0];
    EXPECT_EQ(draw.type, D3DPT_TRIANGLELIST);
    ASSERT_EQ(draw.primitiveCount, 2u * IncomingImages::kCount);
    ASSERT_NE(pool.Atlas(), nullptr);
    EXPECT_EQ(draw.state->textures[0], pool.Atlas()->Texture());
    EXPECT_EQ(draw.state->RenderState(D3DRS_ALPHABLENDENABLE), static_cast<DWORD>(TRUE));

    D3DSURFACE_DESC desc{};
    ASSERT_EQ(pool.Atlas()->Texture()->GetLevelDesc(0, &desc), D3D_OK);
    const float width = static_cast<float>(desc.Width), height = static_cast<float>(desc.Height);
    std::vector<bool> cellTaken(IncomingImages::kCount, false);
    bool someShrunk = false;
    for (int k = 0; k < IncomingImages::kCount; ++k) {
        const IncomingImage& image = pool.Image(k);
        ASSERT_GE(image.Cell(), 0);
        ASSERT_LT(image.Cell(), IncomingImages::kCount);
        EXPECT_FALSE(cellTaken[image.Cell()]) << "picture " << k << " shares a cell";
        cellTaken[image.Cell()] = true;
        const RECT cell = image.SourceRect();
        EXPECT_EQ(cell.right - cell.left, 128);
        EXPECT_EQ(cell.bottom - cell.top, 120);

        const float s = IncomingImage::ScaleAt(image.Distance(), image.Radius());
        someShrunk = someShrunk || s < 1.0f;
        const UINT first = static_cast<UINT>(k) * 6;  // two triangles: corners 0 1 2, 0 2 3
        const UINT topLeft = first, bottomRight = first + 2;
        EXPECT_FLOAT_EQ(draw.FloatAt(topLeft, 0), image.Position().x) << k;
        EXPECT_FLOAT_EQ(draw.FloatAt(topLeft, 4), image.Position().y) << k;
        EXPECT_NEAR(draw.FloatAt(bottomRight, 0) - draw.FloatAt(topLeft, 0), 128.0f * s, 1e-3f) << k;
        EXPECT_NEAR(draw.FloatAt(bottomRight, 4) - draw.FloatAt(topLeft, 4), 120.0f * s, 1e-3f) << k;
        EXPECT_FLOAT_EQ(draw.FloatAt(topLeft, 20), static_cast<float>(cell.left) / width) << k;
        EXPECT_FLOAT_EQ(draw.FloatAt(topLeft, 24), static_cast<float>(cell.top) / height) << k;
        EXPECT_FLOAT_EQ(draw.FloatAt(bottomRight, 20), static_cast<float>(cell.right) / width) << k;
        EXPECT_FLOAT_EQ(draw.FloatAt(bottomRight, 24), static_cast<float>(cell.bottom) / height) << k;
        const IncomingImage::Tint tint = image.CurrentTint();
        const unsigned alpha = static_cast<unsigned>(IncomingImage::AlphaAt(image.Distance(), image.Radius()));
        for (UINT v = first; v < first + 6; ++v)
            EXPECT_EQ(draw.DwordAt(v, 16), D3DCOLOR_ARGB(alpha, tint.red, tint.green, tint.blue)) << k;
    }
    EXPECT_TRUE(someShrunk);
}

// A launch writes the picture into its own cell only, with a frame that
// repeats the picture's edge, and marks only that cell as changed.
TEST_F(IncomingImagesTest, ALaunchWritesItsCellAndItsFrameOnly)
{
    IDirect3DDevice9* device = host.Device();
    auto* texture = static_cast<MemoryTexture*>(pool.Atlas()->Texture());
    // Picture 0 first, a plain grey one, so its cell neighbours the next.
    for (int i = 0; i < 5; ++i) pool.Launch(device, picture.data());
    ASSERT_TRUE(pool.Image(0).IsActive());
    std::vector<std::uint8_t> pixels(IncomingImage::kPictureBytes);
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x) {
            std::uint8_t* p = &pixels[(static_cast<std::size_t>(y) * 128 + x) * 3];
            p[0] = static_cast<std::uint8_t>(x * 2);
            p[1] = static_cast<std::uint8_t>(y * 2);
            p[2] = static_cast<std::uint8_t>(x == 0 || y == 127 ? 255 : 7);
        }
    texture->MarkUnchanged();
    const std::vector<std::uint32_t> before(texture->Texels(0), texture->Texels(0) + texture->Width() * texture->Height());
    for (int i = 0; i < 5; ++i) pool.Launch(device, pixels.data());
    const IncomingImage& image = pool.Image(1);
    ASSERT_TRUE(image.IsActive());

    const RECT cell = pool.Atlas()->PictureRect(image.Cell());
    auto expected = [&](int x, int y) {
        x = std::clamp(x, 0, 127);
        y = std::clamp(y, 0, 127);
        const std::uint8_t* p = &pixels[(static_cast<std::size_t>(y) * 128 + x) * 3];
        return 0xFF000000u | (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2];
    };
    const RECT frame{cell.left - 1, cell.top - 1, cell.right + 1, cell.bottom + 1};
    for (LONG y = 0; y < static_cast<LONG>(texture->Height()); ++y)
        for (LONG x = 0; x < static_cast<LONG>(texture->Width()); ++x) {
            const std::uint32_t texel = texture->Texel(0, static_cast<UINT>(x), static_cast<UINT>(y));
            if (x >= frame.left && x < frame.right && y >= frame.top && y < frame.bottom)
                ASSERT_EQ(texel, expected(x - cell.left, y - cell.top)) << x << "," << y;
            else
                ASSERT_EQ(texel, before[static_cast<std::size_t>(y) * texture->Width() + x]) << x << "," << y;
        }
    RECT changed{};
    ASSERT_TRUE(texture->ChangedRect(changed));
    EXPECT_EQ(changed.left, frame.left);
    EXPECT_EQ(changed.top, frame.top);
    EXPECT_EQ(changed.right, frame.right);
    EXPECT_EQ(changed.bottom, frame.bottom);
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
