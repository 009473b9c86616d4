// The .x mesh loader and the mesh operations: what a file holds arrives
// unchanged (positions, winding, texture coordinates, materials), text and
// binary files agree, and damaged or oversized files are refused with a
// reason instead of being read wrongly.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "platform/d3d9/d3dx9mesh.h"
#include "support/XFileWriter.h"

using testsupport::BinaryXFile;
using testsupport::MakeStripMesh;
using testsupport::TempFolder;
using testsupport::TextXFile;
using testsupport::WriteFileBytes;
using testsupport::XTestMesh;

namespace {

struct Corner {
    float x, y, z, u, v;
    bool operator==(const Corner&) const = default;
    bool operator<(const Corner& o) const { return std::tie(x, y, z, u, v) < std::tie(o.x, o.y, o.z, o.u, o.v); }
};
using Triangle = std::array<Corner, 3>;

struct Loaded {
    HRESULT result = E_FAIL;
    std::string whyNot;
    ID3DXMesh* mesh = nullptr;
    ID3DXBuffer* adjacency = nullptr;
    ID3DXBuffer* materials = nullptr;
    DWORD materialCount = 0;

    explicit Loaded(const std::string& path)
    {
        result = platform::LoadMeshFromX(path.c_str(), D3DXMESH_SYSTEMMEM, nullptr, &adjacency, &materials,
                                         &materialCount, &mesh, &whyNot);
    }
    ~Loaded()
    {
        if (mesh != nullptr) mesh->Release();
        if (adjacency != nullptr) adjacency->Release();
        if (materials != nullptr) materials->Release();
    }
    const D3DXMATERIAL& Material(DWORD i) const { return static_cast<const D3DXMATERIAL*>(materials->GetBufferPointer())[i]; }
};

// The mesh's triangles in stored order, read through the locked buffers.
std::vector<Triangle> TrianglesOf(ID3DXMesh* mesh)
{
    const DWORD stride = mesh->GetNumBytesPerVertex();
    const bool hasUv = (mesh->GetFVF() & D3DFVF_TEX1) != 0;
    const DWORD uvOffset = stride - 8;
    void* vertices = nullptr;
    void* indices = nullptr;
    EXPECT_EQ(mesh->LockVertexBuffer(0, &vertices), D3D_OK);
    EXPECT_EQ(mesh->LockIndexBuffer(0, &indices), D3D_OK);
    std::vector<Triangle> out;
    for (DWORD f = 0; f < mesh->GetNumFaces(); ++f) {
        Triangle t{};
        for (int k = 0; k < 3; ++k) {
            std::uint16_t index;
            std::memcpy(&index, static_cast<std::uint8_t*>(indices) + (f * 3 + k) * 2, 2);
            const auto* v = static_cast<std::uint8_t*>(vertices) + index * stride;
            float p[3] = {0, 0, 0}, uv[2] = {0, 0};
            std::memcpy(p, v, 12);
            if (hasUv) std::memcpy(uv, v + uvOffset, 8);
            t[k] = Corner{p[0], p[1], p[2], uv[0], uv[1]};
        }
        out.push_back(t);
    }
    mesh->UnlockVertexBuffer();
    mesh->UnlockIndexBuffer();
    return out;
}

std::vector<Triangle> TrianglesOf(const XTestMesh& mesh)
{
    std::vector<Triangle> out;
    for (const auto& face : mesh.faces) {
        Triangle t{};
        for (int k = 0; k < 3; ++k) {
            const auto& p = mesh.positions[face[k]];
            const auto& uv = mesh.uvs[face[k]];
            t[k] = Corner{p[0], p[1], p[2], uv[0], uv[1]};
        }
        out.push_back(t);
    }
    return out;
}

std::vector<Triangle> Sorted(std::vector<Triangle> triangles)
{
    std::sort(triangles.begin(), triangles.end());
    return triangles;
}

class XMeshLoader : public ::testing::Test {
protected:
    std::string Write(const std::string& name, const std::string& bytes)
    {
        std::string path = folder_.File(name);
        EXPECT_TRUE(WriteFileBytes(path, bytes));
        return path;
    }
    TempFolder folder_;
};

TEST_F(XMeshLoader, KeepsTheFilesPositionsWindingAndTextureCoordinates)
{
    XTestMesh source = MakeStripMesh(10, "strip.bmp");
    Loaded loaded(Write("strip.x", TextXFile(source)));
    ASSERT_EQ(loaded.result, D3D_OK) << loaded.whyNot;
    EXPECT_EQ(loaded.mesh->GetNumFaces(), 10u);
    EXPECT_EQ(loaded.mesh->GetFVF(), D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1);
    EXPECT_EQ(loaded.mesh->GetNumBytesPerVertex(), 32u);
    // Corners that agree in everything are shared again, as the file has them.
    EXPECT_EQ(loaded.mesh->GetNumVertices(), 12u);
    // Faces may be reordered for the vertex cache, but each keeps its corners in order.
    EXPECT_EQ(Sorted(TrianglesOf(loaded.mesh)), Sorted(TrianglesOf(source)));
}

TEST_F(XMeshLoader, TextAndBinaryFilesOfOneMeshGiveTheSameTriangles)
{
    XTestMesh source = MakeStripMesh(24, "strip.bmp");
    Loaded text(Write("text.x", TextXFile(source)));
    Loaded binary(Write("binary.x", BinaryXFile(source)));
    ASSERT_EQ(text.result, D3D_OK) << text.whyNot;
    ASSERT_EQ(binary.result, D3D_OK) << binary.whyNot;
    EXPECT_EQ(TrianglesOf(binary.mesh), TrianglesOf(text.mesh));
    EXPECT_EQ(binary.mesh->GetNumVertices(), text.mesh->GetNumVertices());
    ASSERT_EQ(binary.materialCount, 1u);
    ASSERT_NE(binary.Material(0).pTextureFilename, nullptr);
    EXPECT_STREQ(binary.Material(0).pTextureFilename, "strip.bmp");
}

TEST_F(XMeshLoader, ReadsTheInstallationsLogo)
{
    Loaded loaded(std::string(SOLVANE_SOURCE_DIR) + "/data/logo.x");
    ASSERT_EQ(loaded.result, D3D_OK) << loaded.whyNot;
    EXPECT_EQ(loaded.mesh->GetNumFaces(), 48u);
    ASSERT_EQ(loaded.materialCount, 1u);
    EXPECT_STREQ(loaded.Material(0).pTextureFilename, "logo.bmp");
    EXPECT_FLOAT_EQ(loaded.Material(0).MatD3D.Diffuse.r, 1.0f);
    EXPECT_FLOAT_EQ(loaded.Material(0).MatD3D.Power, 24.0f);
    ASSERT_EQ(loaded.adjacency->GetBufferSize(), 48u * 3 * sizeof(DWORD));
    // The gem is closed: every edge has a neighbour.
    const auto* adjacency = static_cast<const DWORD*>(loaded.adjacency->GetBufferPointer());
    for (DWORD i = 0; i < 48 * 3; ++i) EXPECT_LT(adjacency[i], 48u) << "edge " << i;
}

TEST_F(XMeshLoader, MaterialsKeepTheirTextureNamesWithSlashes)
{
    XTestMesh source = MakeStripMesh(4, "textures\\\\logo.bmp");
    source.materialTextures = {"textures\\\\logo.bmp", ""};
    source.faceMaterials = {0, 1, 0, 1};
    Loaded loaded(Write("two.x", TextXFile(source)));
    ASSERT_EQ(loaded.result, D3D_OK) << loaded.whyNot;
    ASSERT_EQ(loaded.materialCount, 2u);
    EXPECT_STREQ(loaded.Material(0).pTextureFilename, "textures/logo.bmp");
    EXPECT_EQ(loaded.Material(1).pTextureFilename, nullptr);
    EXPECT_FLOAT_EQ(loaded.Material(1).MatD3D.Specular.g, 0.5f);
}

TEST_F(XMeshLoader, RefusesDamagedFilesWithAReason)
{
    const std::string good = TextXFile(MakeStripMesh(20, "strip.bmp"));
    const std::string goodBinary = BinaryXFile(MakeStripMesh(20, "strip.bmp"));
    std::string hugeCount = good;
    hugeCount.replace(hugeCount.find(" 22;"), 4, " 3000000000;");
    std::string hugeBinaryCount = goodBinary;
    const std::uint32_t huge = 0xFFFFFFF0u;
    std::memcpy(&hugeBinaryCount[16 + 2 + 4 + 4 + 2 + 4 + 8 + 2 + 2 + 4], &huge, 4);  // the vertex count
    std::string garbage;
    for (int i = 0; i < 3000; ++i) garbage.push_back(static_cast<char>((i * 7919 + 13) % 251));

    struct Case {
        const char* name;
        std::string bytes;
    };
    const Case cases[] = {
        {"empty", ""},
        {"header only", "xof 0303txt 0032\n"},
        {"truncated text", good.substr(0, good.size() / 2)},
        {"truncated binary", goodBinary.substr(0, goodBinary.size() / 2)},
        {"garbage", garbage},
        {"garbage after a header", "xof 0303txt 0032" + garbage},
        {"garbage after a binary header", "xof 0303bin 0032" + garbage},
        {"huge vertex count", hugeCount},
        {"huge binary vertex count", hugeBinaryCount},
        {"no triangles", "xof 0303txt 0032\nFrame Empty {\n}\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Loaded loaded(Write("broken.x", c.bytes));
        EXPECT_TRUE(FAILED(loaded.result));
        EXPECT_EQ(loaded.mesh, nullptr);
        EXPECT_FALSE(loaded.whyNot.empty());
    }
    Loaded missing(folder_.File("missing.x"));
    EXPECT_TRUE(FAILED(missing.result));
    EXPECT_EQ(missing.whyNot, "cannot open the file");

    // Files on which assimp itself aborts or crashes are refused, and this process goes on.
    Loaded cornerless(Write("cornerless.x", "xof 0303txt 0032\nMesh M {\n 3;\n 0.0;0.0;0.0;,\n 1.0;0.0;0.0;,\n"
                                            " 0.0;1.0;0.0;;\n 2;\n 3;0,1,2;,\n 0;;\n}\n"));
    EXPECT_EQ(cornerless.whyNot, "a face has no corners");
    Loaded crashing(std::string(SOLVANE_SOURCE_DIR) + "/tests/fuzz/regressions/xfile/damaged-face-list.x");
    EXPECT_TRUE(FAILED(crashing.result));
    EXPECT_NE(crashing.whyNot.find("the .x reader crashed"), std::string::npos) << crashing.whyNot;
}

TEST_F(XMeshLoader, RefusesAMeshThatNeeds32BitIndices)
{
    XTestMesh big;
    for (unsigned i = 0; i < 22000; ++i) {
        float x = static_cast<float>(i);
        unsigned base = static_cast<unsigned>(big.positions.size());
        big.positions.push_back({x, 0.0f, 0.0f});
        big.positions.push_back({x, 1.0f, 0.0f});
        big.positions.push_back({x + 0.5f, 1.0f, 0.0f});
        big.faces.push_back({base, base + 1, base + 2});
    }
    Loaded loaded(Write("big.x", BinaryXFile(big)));
    EXPECT_EQ(loaded.result, D3DXERR_INVALIDMESH);
    EXPECT_EQ(loaded.mesh, nullptr);
    EXPECT_NE(loaded.whyNot.find("32-bit"), std::string::npos) << loaded.whyNot;
    EXPECT_NE(loaded.whyNot.find("66000"), std::string::npos) << loaded.whyNot;
}

TEST_F(XMeshLoader, ComputedNormalsFaceTheClockwiseSide)
{
    XTestMesh source = MakeStripMesh(6, "");
    source.normals.clear();
    source.materialTextures.clear();
    source.faceMaterials.clear();
    Loaded loaded(Write("plain.x", TextXFile(source)));
    ASSERT_EQ(loaded.result, D3D_OK) << loaded.whyNot;
    EXPECT_EQ(loaded.mesh->GetFVF(), D3DFVF_XYZ | D3DFVF_TEX1);
    EXPECT_EQ(D3DXComputeNormals(loaded.mesh, nullptr), D3DERR_INVALIDCALL) << "no normals to fill";

    ID3DXMesh* clone = nullptr;
    ASSERT_EQ(loaded.mesh->CloneMeshFVF(D3DXMESH_SYSTEMMEM, D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1, nullptr, &clone), D3D_OK);
    EXPECT_EQ(TrianglesOf(clone), TrianglesOf(loaded.mesh)) << "positions and texture coordinates survive the clone";
    ASSERT_EQ(D3DXComputeNormals(clone, nullptr), D3D_OK);
    const auto& vertices = clone->Vertices();
    for (DWORD v = 0; v < clone->GetNumVertices(); ++v) {
        float n[3];
        std::memcpy(n, &vertices[v * 32 + 12], 12);
        EXPECT_FLOAT_EQ(n[0], 0.0f);
        EXPECT_FLOAT_EQ(n[1], 0.0f);
        EXPECT_FLOAT_EQ(n[2], -1.0f);
    }
    clone->Release();
}

TEST(XMeshOptimise, SortsByAttributeAndNumbersVerticesByFirstUse)
{
    // Four faces over seven vertices; vertex 6 is unused; attributes alternate.
    ID3DXMesh* mesh = new ID3DXMesh(4, 7, D3DXMESH_SYSTEMMEM, D3DFVF_XYZ, nullptr);
    const std::uint16_t indices[12] = {5, 4, 3, 0, 1, 2, 3, 4, 0, 2, 1, 5};
    std::memcpy(mesh->Indices().data(), indices, sizeof indices);
    for (DWORD v = 0; v < 7; ++v) {
        float p[3] = {static_cast<float>(v), 0, 0};
        std::memcpy(&mesh->Vertices()[v * 12], p, 12);
    }
    mesh->Attributes() = {1, 0, 1, 0};
    DWORD adjacencyIn[12] = {2, D3DX_UNUSED_FACE, D3DX_UNUSED_FACE, 3, D3DX_UNUSED_FACE, D3DX_UNUSED_FACE,
                             0, D3DX_UNUSED_FACE, D3DX_UNUSED_FACE, 1, D3DX_UNUSED_FACE, D3DX_UNUSED_FACE};
    DWORD adjacencyOut[12];
    DWORD faceRemap[4];
    ID3DXBuffer* vertexRemap = nullptr;
    ASSERT_EQ(mesh->OptimizeInplace(D3DXMESHOPT_COMPACT | D3DXMESHOPT_ATTRSORT | D3DXMESHOPT_VERTEXCACHE, adjacencyIn,
                                    adjacencyOut, faceRemap, &vertexRemap),
              D3D_OK);
    EXPECT_EQ(std::vector<DWORD>(faceRemap, faceRemap + 4), (std::vector<DWORD>{1, 3, 0, 2}));
    EXPECT_EQ(mesh->Attributes(), (std::vector<DWORD>{0, 0, 1, 1}));
    EXPECT_EQ(mesh->GetNumVertices(), 6u);
    ASSERT_NE(vertexRemap, nullptr);
    const auto* remap = static_cast<const DWORD*>(vertexRemap->GetBufferPointer());
    EXPECT_EQ(std::vector<DWORD>(remap, remap + 6), (std::vector<DWORD>{0, 1, 2, 5, 4, 3}));
    vertexRemap->Release();
    // Face 0 (old 1) now reads 0 1 2; face 1 (old 3) reads old 2 1 5 = new 2 1 3.
    EXPECT_EQ(mesh->IndexAt(1, 0), 2u);
    EXPECT_EQ(mesh->IndexAt(1, 2), 3u);
    // Each vertex still carries its own data.
    float x;
    std::memcpy(&x, &mesh->Vertices()[3 * 12], 4);
    EXPECT_FLOAT_EQ(x, 5.0f);
    // Neighbours follow their faces: old 0 <-> old 2 are now 2 <-> 3, old 1 <-> old 3 are 0 <-> 1.
    EXPECT_EQ(adjacencyOut[0], 1u);
    EXPECT_EQ(adjacencyOut[3], 0u);
    EXPECT_EQ(adjacencyOut[6], 3u);
    EXPECT_EQ(adjacencyOut[9], 2u);

    D3DXATTRIBUTERANGE table[4];
    DWORD size = 4;
    ASSERT_EQ(mesh->GetAttributeTable(table, &size), D3D_OK);
    ASSERT_EQ(size, 2u);
    EXPECT_EQ(table[0].AttribId, 0u);
    EXPECT_EQ(table[0].FaceStart, 0u);
    EXPECT_EQ(table[0].FaceCount, 2u);
    EXPECT_EQ(table[1].FaceStart, 2u);
    EXPECT_EQ(table[1].VertexStart, 0u);
    EXPECT_EQ(table[1].VertexCount, 6u);
    mesh->Release();
}

}  // namespace
