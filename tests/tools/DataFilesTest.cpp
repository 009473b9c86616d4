// The data folder is the output of solvane-datagen: a fresh run must give
// the committed files byte for byte, and each picture must have the size and
// format its user expects.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char* const kDataFiles[] = {"title.png", "CopyRight.png", "spheremap.bmp", "light1.bmp",
                                  "light2.bmp", "ground.bmp",   "logo.x",        "logo.bmp"};

std::vector<std::uint8_t> ReadAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::uint32_t Le32(const std::vector<std::uint8_t>& b, size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

std::uint32_t Be32(const std::vector<std::uint8_t>& b, size_t at)
{
    return (static_cast<std::uint32_t>(b[at]) << 24) | (b[at + 1] << 16) | (b[at + 2] << 8) | b[at + 3];
}

fs::path DataDir() { return fs::path(SOLVANE_SOURCE_DIR) / "data"; }

struct BmpInfo {
    std::uint32_t width = 0, height = 0, bits = 0, compression = 99;
};

BmpInfo ReadBmpInfo(const std::vector<std::uint8_t>& bytes)
{
    BmpInfo info;
    if (bytes.size() < 54 || bytes[0] != 'B' || bytes[1] != 'M') return info;
    info.width = Le32(bytes, 18);
    info.height = Le32(bytes, 22);
    info.bits = bytes[28] | (bytes[29] << 8);
    info.compression = Le32(bytes, 30);
    return info;
}

class GeneratedData : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        char pattern[] = "/tmp/solvane-datagen-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        outDir_ = pattern;
        fs::path generator = fs::path(SOLVANE_BINARY_DIR) / "solvane-datagen";
        ASSERT_TRUE(fs::exists(generator)) << "build the solvane-datagen target first: " << generator;
        std::string command = "'" + generator.string() + "' '" + outDir_.string() + "'";
        int status = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;
    }
    static void TearDownTestSuite()
    {
        std::error_code ignored;
        fs::remove_all(outDir_, ignored);
    }
    static fs::path outDir_;
};

fs::path GeneratedData::outDir_;

TEST_F(GeneratedData, ReproducesTheCommittedFilesByteForByte)
{
    for (const char* name : kDataFiles) {
        SCOPED_TRACE(name);
        std::vector<std::uint8_t> fresh = ReadAll(outDir_ / name);
        std::vector<std::uint8_t> committed = ReadAll(DataDir() / name);
        ASSERT_FALSE(fresh.empty());
        ASSERT_FALSE(committed.empty()) << "missing data/" << name;
        EXPECT_TRUE(fresh == committed) << "data/" << name << " differs from the generator's output;"
                                        << " regenerate with solvane-datagen data";
    }
}

TEST_F(GeneratedData, PicturesHaveTheirExpectedSizesAndFormats)
{
    struct Expected {
        const char* name;
        std::uint32_t width, height;
    };
    for (Expected bmp : {Expected{"spheremap.bmp", 256, 256}, Expected{"ground.bmp", 256, 256},
                         Expected{"light1.bmp", 64, 64}, Expected{"light2.bmp", 64, 64}, Expected{"logo.bmp", 128, 128}}) {
        SCOPED_TRACE(bmp.name);
        std::vector<std::uint8_t> bytes = ReadAll(DataDir() / bmp.name);
        BmpInfo info = ReadBmpInfo(bytes);
        EXPECT_EQ(info.width, bmp.width);
        EXPECT_EQ(info.height, bmp.height);
        EXPECT_EQ(info.bits, 24u);
        EXPECT_EQ(info.compression, 0u);
        EXPECT_EQ(bytes.size(), 54u + bmp.width * bmp.height * 3);
    }
    for (Expected png : {Expected{"title.png", 256, 256}, Expected{"CopyRight.png", 256, 64}}) {
        SCOPED_TRACE(png.name);
        std::vector<std::uint8_t> bytes = ReadAll(DataDir() / png.name);
        ASSERT_GE(bytes.size(), 33u);
        EXPECT_EQ(std::string(bytes.begin() + 1, bytes.begin() + 4), "PNG");
        EXPECT_EQ(Be32(bytes, 16), png.width);
        EXPECT_EQ(Be32(bytes, 20), png.height);
        EXPECT_EQ(bytes[25], 6) << "RGBA, so the name can sit on any background";
    }
}

TEST_F(GeneratedData, LightsFadeToBlackAtTheirEdges)
{
    // The sparks are drawn additively: any colour at the border would show as a square.
    for (const char* name : {"light1.bmp", "light2.bmp"}) {
        SCOPED_TRACE(name);
        std::vector<std::uint8_t> bytes = ReadAll(DataDir() / name);
        ASSERT_EQ(bytes.size(), 54u + 64 * 64 * 3);
        auto texel = [&](int x, int y) { return &bytes[54 + (static_cast<size_t>(63 - y) * 64 + x) * 3]; };
        for (int i = 0; i < 64; ++i)
            for (const std::uint8_t* p : {texel(i, 0), texel(i, 63), texel(0, i), texel(63, i)})
                ASSERT_EQ(p[0] + p[1] + p[2], 0) << "border texel at " << i;
        const std::uint8_t* centre = texel(32, 32);
        EXPECT_GT(centre[0] + centre[1] + centre[2], 600);
    }
}

TEST_F(GeneratedData, LogoIsATextXFileNamingItsTexture)
{
    std::vector<std::uint8_t> bytes = ReadAll(DataDir() / "logo.x");
    std::string text(bytes.begin(), bytes.end());
    EXPECT_EQ(text.rfind("xof 0303txt ", 0), 0u);
    EXPECT_NE(text.find("TextureFilename"), std::string::npos);
    EXPECT_NE(text.find("\"logo.bmp\""), std::string::npos);
    EXPECT_NE(text.find("MeshNormals"), std::string::npos);
    EXPECT_NE(text.find("MeshTextureCoords"), std::string::npos);
}

}  // namespace
