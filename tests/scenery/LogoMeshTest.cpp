// The logo: "logo.x" and "logo.bmp" from the data folder become a triangle
// list of 32-byte vertices; the textures named inside the file are found
// beside it; a broken or missing "logo.x" fails the load with a message
// naming the file, and never crashes.
#include <gtest/gtest.h>

#include "platform/d3d9/d3dx9mesh.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>

#include "scenery/LogoMesh.h"
#include "support/DeviceTestSupport.h"
#include "support/XFileWriter.h"

using testsupport::MakeStripMesh;
using testsupport::Ref;
using testsupport::TempFolder;
using testsupport::TextXFile;
using testsupport::WriteFileBytes;
using testsupport::XTestMesh;

namespace fs = std::filesystem;

namespace {

const std::string kDataDir = std::string(SOLVANE_SOURCE_DIR) + "/data";

class LogoMeshTest : public ::testing::Test {
protected:
    LogoMeshTest() : device_(testsupport::NewRecordingDevice()) {}

    // A data folder holding the given logo.x (and logo.bmp when asked).
    std::string DataFolder(const std::string& logoX, bool withPicture)
    {
        EXPECT_TRUE(WriteFileBytes(folder_.File("logo.x"), logoX));
        if (withPicture) fs::copy_file(kDataDir + "/logo.bmp", folder_.File("logo.bmp"));
        return folder_.Path();
    }

    Ref<RecordingDevice> device_;
    TempFolder folder_;
};

TEST_F(LogoMeshTest, LoadsTheInstallationsLogoWithBothTextures)
{
    LogoMesh logo;
    ASSERT_TRUE(logo.LoadLogo(device_.get(), kDataDir));
    EXPECT_EQ(logo.faceCount, 48u);
    EXPECT_EQ(logo.triangleVertices.size(), 144u);
    EXPECT_LT(logo.vertexCount, 144u) << "corners shared by faces are stored once in the mesh";
    EXPECT_NE(logo.logoTexture.texture, nullptr);
    ASSERT_EQ(logo.materialCount, 1u);
    EXPECT_NE(logo.textures[0], nullptr) << "\"logo.bmp\" named in the file is found beside it";
    EXPECT_EQ(logo.mesh->GetFVF(), LogoVertexFormat);
    // The node starts at the origin, unturned.
    EXPECT_FLOAT_EQ(logo.position.x, 0.0f);
    EXPECT_FLOAT_EQ(logo.orientation.w, 1.0f);
}

TEST_F(LogoMeshTest, HundredFacesGiveThreeHundredVerticesWhateverTheVertexCount)
{
    XTestMesh strip = MakeStripMesh(100, "logo.bmp");
    LogoMesh logo;
    ASSERT_TRUE(logo.LoadLogo(device_.get(), DataFolder(TextXFile(strip), true)));
    EXPECT_EQ(logo.faceCount, 100u);
    EXPECT_EQ(logo.vertexCount, 102u);
    EXPECT_EQ(logo.triangleVertices.size(), 300u);

    // Every stored triangle is one of the file's, corner order kept, with the
    // computed normal facing the clockwise side (towards -z here).
    std::vector<std::array<float, 6>> expected;
    for (const auto& face : strip.faces)
        for (unsigned index : face)
            expected.push_back({strip.positions[index][0], strip.positions[index][1], strip.positions[index][2],
                                strip.uvs[index][0], strip.uvs[index][1], 0});
    std::vector<std::array<std::array<float, 6>, 3>> fileTriangles, storedTriangles;
    for (size_t i = 0; i < expected.size(); i += 3) fileTriangles.push_back({expected[i], expected[i + 1], expected[i + 2]});
    for (size_t i = 0; i < logo.triangleVertices.size(); i += 3) {
        std::array<std::array<float, 6>, 3> t;
        for (int k = 0; k < 3; ++k) {
            const LogoVertex& v = logo.triangleVertices[i + k];
            t[k] = {v.x, v.y, v.z, v.u, v.v, 0};
            EXPECT_FLOAT_EQ(v.nz, -1.0f);
        }
        storedTriangles.push_back(t);
    }
    std::sort(fileTriangles.begin(), fileTriangles.end());
    std::sort(storedTriangles.begin(), storedTriangles.end());
    EXPECT_EQ(storedTriangles, fileTriangles);
}

TEST_F(LogoMeshTest, AMissingTextureLeavesTheMaterialWithoutOne)
{
    XTestMesh strip = MakeStripMesh(8, "nowhere.bmp");
    LogoMesh logo;
    ASSERT_TRUE(logo.LoadLogo(device_.get(), DataFolder(TextXFile(strip), false)));
    EXPECT_EQ(logo.textures[0], nullptr);
    EXPECT_EQ(logo.logoTexture.texture, nullptr) << "a missing logo.bmp is not an error";
    EXPECT_EQ(logo.triangleVertices.size(), 24u);
}

TEST_F(LogoMeshTest, BrokenLogoFilesFailQuietlyWithAReason)
{
    const std::string good = TextXFile(MakeStripMesh(20, "logo.bmp"));
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"empty", ""},
        {"truncated", good.substr(0, good.size() * 2 / 3)},
        {"garbage", std::string(500, '\x7f') + "{{{;;;"},
        {"not a mesh", "xof 0303txt 0032\nHeader { 1; 0; 1; }\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        ASSERT_TRUE(WriteFileBytes(folder.File("logo.x"), c.bytes));
        LogoMesh logo;
        testing::internal::CaptureStderr();
        EXPECT_FALSE(logo.LoadLogo(device_.get(), folder.Path()));
        std::string log = testing::internal::GetCapturedStderr();
        // The loader says nothing: the start names the file once, with the
        // reason (the world's tests check that line).
        EXPECT_EQ(log.find(folder.File("logo.x")), std::string::npos) << log;
        std::string why;
        ID3DXMesh* mesh = nullptr;
        EXPECT_TRUE(FAILED(platform::LoadMeshFromX(folder.File("logo.x").c_str(), D3DXMESH_SYSTEMMEM, nullptr, nullptr,
                                                   nullptr, nullptr, &mesh, &why)));
        EXPECT_FALSE(why.empty());
        EXPECT_TRUE(logo.triangleVertices.empty());
        EXPECT_EQ(logo.mesh, nullptr);
    }
    LogoMesh missing;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(missing.LoadLogo(device_.get(), folder_.File("no-such-folder")));
    EXPECT_EQ(testing::internal::GetCapturedStderr().find("logo.x"), std::string::npos);
}

TEST_F(LogoMeshTest, DrawsItsTrianglesWithItsTexture)
{
    LogoMesh logo;
    ASSERT_TRUE(logo.LoadLogo(device_.get(), kDataDir));
    logo.Draw(device_.get(), MatrixIdentity());
    ASSERT_EQ(device_->Draws().size(), 1u);
    const RecordedDraw& draw = device_->Draws()[0];
    EXPECT_EQ(draw.type, D3DPT_TRIANGLELIST);
    EXPECT_EQ(draw.primitiveCount, 48u);
    EXPECT_EQ(draw.stride, 32u);
    EXPECT_EQ(draw.fvf, LogoVertexFormat);
    EXPECT_EQ(draw.state->textures[0], logo.logoTexture.texture);
    EXPECT_EQ(std::memcmp(draw.vertices.data(), logo.triangleVertices.data(), 144 * 32), 0);

    device_->ClearDraws();
    logo.DrawSubsets(device_.get());
    ASSERT_EQ(device_->Draws().size(), 1u);
    EXPECT_EQ(device_->Draws()[0].primitiveCount, 48u);
    EXPECT_EQ(device_->Draws()[0].state->textures[0], logo.textures[0]);
}

}  // namespace
