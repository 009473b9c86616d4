// Texture holders: loading from files, dynamic textures and the upload of
// the RGB pixel store, on the recording device.
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>

#include "platform/d3d9/MemoryTexture.h"
#include "scenery/TextureHolder.h"
#include "support/DeviceTestSupport.h"
#include "support/PixelStorePixels.h"

using testsupport::NewRecordingDevice;
using testsupport::PutPixel;
using testsupport::Ref;

namespace {

class TextureHolderTest : public ::testing::Test {
protected:
    void SetUp() override { device = NewRecordingDevice(); }
    void TearDown() override { device->Release(); }
    static MemoryTexture* Memory(const TextureHolder& holder) { return static_cast<MemoryTexture*>(holder.texture); }

    struct TexelAt {
        UINT x, y;
        DWORD argb;
    };
    static void ExpectTexels(const TextureHolder& holder, std::initializer_list<TexelAt> texels)
    {
        for (const TexelAt& t : texels)
            EXPECT_EQ(Memory(holder)->Texel(0, t.x, t.y), t.argb) << "texel " << t.x << "," << t.y;
    }

    // A size x size dynamic texture whose pixel store bytes are all `fill`.
    bool CreateFilled(TextureHolder& holder, int size, unsigned char fill)
    {
        if (!holder.CreateDynamic(nullptr, device, size, size)) return false;
        std::memset(holder.pixelStore->colour.data(), fill, holder.pixelStore->colour.size());
        return true;
    }

    RecordingDevice* device = nullptr;
};

TEST_F(TextureHolderTest, FreshDynamicTextureIsOpaqueBlack)
{
    TextureHolder holder;
    ASSERT_TRUE(holder.CreateDynamic(nullptr, device, 128, 128));
    ASSERT_NE(holder.texture, nullptr);
    ASSERT_NE(holder.pixelStore, nullptr);
    EXPECT_EQ(holder.width, 128);
    EXPECT_EQ(holder.texture->GetLevelCount(), 1u);
    EXPECT_EQ(holder.pixelStore->colour.size(), 128u * 128u * 3u);
    for (UINT y = 0; y < 128; y += 17)
        for (UINT x = 0; x < 128; x += 13) EXPECT_EQ(Memory(holder)->Texel(0, x, y), 0xFF000000u);
    EXPECT_FLOAT_EQ(holder.pixelStore->depth[0], 1.0e10f);
}

TEST_F(TextureHolderTest, UploadTurnsRgbBytesIntoOpaqueTexelsWithoutFlipping)
{
    TextureHolder holder;
    ASSERT_TRUE(holder.CreateDynamic(nullptr, device, 128, 128));
    PutPixel(holder, 0, 0, 10, 20, 30);
    PutPixel(holder, 3, 5, 0xAB, 0xCD, 0xEF);  // row 5, column 3
    ASSERT_TRUE(holder.Upload(device, 0, 0, 128, 128));
    ExpectTexels(holder, {{0, 0, 0xFF0A141Eu}, {3, 5, 0xFFABCDEFu}, {5, 3, 0xFF000000u}});
}

TEST_F(TextureHolderTest, UploadOfARectangleLeavesTheRestAlone)
{
    TextureHolder holder;
    ASSERT_TRUE(CreateFilled(holder, 16, 0xFF));
    ASSERT_TRUE(holder.Upload(device, 4, 4, 2, 2));
    ExpectTexels(holder, {{4, 4, 0xFFFFFFFFu}, {5, 5, 0xFFFFFFFFu}, {6, 5, 0xFF000000u}, {3, 4, 0xFF000000u}});
}

TEST_F(TextureHolderTest, UploadPastTheEdgesIsClippedNotWrittenOutside)
{
    TextureHolder holder;
    ASSERT_TRUE(CreateFilled(holder, 8, 0x7F));
    EXPECT_TRUE(holder.Upload(device, -5, 6, 100, 100));
    ExpectTexels(holder, {{0, 6, 0xFF7F7F7Fu}, {7, 7, 0xFF7F7F7Fu}, {7, 5, 0xFF000000u}});
}

TEST_F(TextureHolderTest, UploadFailsWhenTheTextureCannotBeLocked)
{
    TextureHolder holder;
    ASSERT_TRUE(holder.CreateDynamic(nullptr, device, 8, 8));
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(holder.texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
    EXPECT_FALSE(holder.Upload(device, 0, 0, 8, 8));
    holder.texture->UnlockRect(0);
    TextureHolder empty;
    EXPECT_FALSE(empty.Upload(device, 0, 0, 8, 8));
}

TEST_F(TextureHolderTest, LoadsAPictureFileWithItsMipChainAndRemembersThePath)
{
    const std::string path = testsupport::TempDir() + "/title.png";
    ASSERT_TRUE(testsupport::WriteSolidPng(path, 256, 256, 255, 0, 0, 255));
    TextureHolder holder;
    ASSERT_TRUE(holder.LoadFromFile(device, path.c_str()));
    EXPECT_STREQ(holder.path, path.c_str());
    EXPECT_EQ(holder.texture->GetLevelCount(), 9u);
    EXPECT_EQ(Memory(holder)->Texel(0, 100, 100), 0xFFFF0000u);
}

TEST_F(TextureHolderTest, MissingOrBrokenFileIsAFalseResult)
{
    const std::string dir = testsupport::TempDir();
    TextureHolder holder;
    EXPECT_FALSE(holder.LoadFromFile(device, (dir + "/absent.bmp").c_str()));
    EXPECT_EQ(holder.texture, nullptr);
    EXPECT_STREQ(holder.path, (dir + "/absent.bmp").c_str());

    ASSERT_TRUE(testsupport::WriteSolidPng(dir + "/good.png", 4, 4, 1, 2, 3, 255));
    ASSERT_TRUE(holder.LoadFromFile(device, (dir + "/good.png").c_str()));
    IDirect3DTexture9* good = holder.texture;
    std::vector<std::uint8_t> bytes = testsupport::ReadBytes(dir + "/good.png");
    bytes.resize(bytes.size() / 2);
    ASSERT_TRUE(testsupport::WriteBytes(dir + "/half.png", bytes));
    EXPECT_FALSE(holder.LoadFromFile(device, (dir + "/half.png").c_str()));
    EXPECT_EQ(holder.texture, good) << "a failed load keeps the texture held before";
}

TEST(PixelStore, SixteenBitStoresHaveTwoBytesAPixel)
{
    PixelStore store;
    EXPECT_TRUE(store.Create(nullptr, 10, 4, 16));
    EXPECT_EQ(store.colour.size(), 80u);
    EXPECT_EQ(store.depth.size(), 40u);
    PixelStore negative;
    EXPECT_TRUE(negative.Create(nullptr, -3, 4, 24));
    EXPECT_TRUE(negative.colour.empty());
}

}  // namespace
