// The .x loader on assimp: every mesh of the file into one D3DX mesh, with
// materials, texture names and face adjacency.
//
// NOTE: assimp's .x importer turns the file's left-handed data into its own
// right-handed convention (z mirrored, v flipped, winding reversed) and
// aiProcess_ConvertToLeftHanded turns all three back, so positions, texture
// coordinates and winding come out exactly as written in the file. It also
// emits one vertex per face corner; aiProcess_JoinIdenticalVertices merges
// corners that agree in every attribute, as D3DX's loader keeps them shared.
#include "platform/d3d9/XMeshLoader.h"

#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <tuple>
#include <unordered_map>

#include "common/RegularFile.h"
#include "platform/d3d9/MeshVertexLayout.h"
#include "platform/files/XFileCheck.h"
#include "platform/system/ChildProcess.h"

using platform::Float3;
using platform::LayoutOf;
using platform::WriteFloat3;

namespace {

struct LoadedGeometry {
    std::vector<Float3> positions;
    std::vector<Float3> normals;
    std::vector<std::pair<float, float>> uvs;
    std::vector<std::uint32_t> indices;     // three per face
    std::vector<std::uint32_t> attributes;  // one per face
    bool hasNormals = false;
    bool hasUvs = false;
};

void Collect(const aiScene* scene, const aiNode* node, const aiMatrix4x4& parent, LoadedGeometry& out)
{
    const aiMatrix4x4 transform = parent * node->mTransformation;
    aiMatrix3x3 normalTransform(transform);
    normalTransform.Inverse().Transpose();
    for (unsigned m = 0; m < node->mNumMeshes; ++m) {
        const aiMesh* mesh = scene->mMeshes[node->mMeshes[m]];
        const auto base = static_cast<std::uint32_t>(out.positions.size());
        for (unsigned v = 0; v < mesh->mNumVertices; ++v) {
            aiVector3D p = transform * mesh->mVertices[v];
            out.positions.push_back(Float3{p.x, p.y, p.z});
            aiVector3D n(0, 0, 0);
            if (mesh->HasNormals()) n = (normalTransform * mesh->mNormals[v]).NormalizeSafe();
            out.normals.push_back(Float3{n.x, n.y, n.z});
            aiVector3D uv(0, 0, 0);
            if (mesh->HasTextureCoords(0)) uv = mesh->mTextureCoords[0][v];
            out.uvs.emplace_back(uv.x, uv.y);
        }
        out.hasNormals = out.hasNormals || mesh->HasNormals();
        out.hasUvs = out.hasUvs || mesh->HasTextureCoords(0);
        for (unsigned f = 0; f < mesh->mNumFaces; ++f) {
            const aiFace& face = mesh->mFaces[f];
            if (face.mNumIndices != 3) continue;  // points and lines have no surface to show
            for (int k = 0; k < 3; ++k) out.indices.push_back(base + face.mIndices[k]);
            out.attributes.push_back(mesh->mMaterialIndex);
        }
    }
    for (unsigned c = 0; c < node->mNumChildren; ++c) Collect(scene, node->mChildren[c], transform, out);
}

// Faces sharing an edge (by position, so that split normals or texture
// coordinates do not hide a neighbour), three entries per face.
std::vector<DWORD> ComputeAdjacency(const LoadedGeometry& geometry)
{
    std::map<std::tuple<float, float, float>, std::uint32_t> pointIds;
    std::vector<std::uint32_t> pointOf(geometry.positions.size());
    for (size_t v = 0; v < geometry.positions.size(); ++v) {
        const Float3& p = geometry.positions[v];
        pointOf[v] = pointIds.emplace(std::make_tuple(p.x, p.y, p.z), static_cast<std::uint32_t>(pointIds.size())).first->second;
    }
    const size_t faces = geometry.attributes.size();
    std::unordered_map<std::uint64_t, DWORD> faceOfEdge;
    auto edgeKey = [&](size_t face, int k) {
        std::uint64_t from = pointOf[geometry.indices[face * 3 + k]];
        std::uint64_t to = pointOf[geometry.indices[face * 3 + (k + 1) % 3]];
        return (from << 32) | to;
    };
    for (size_t f = 0; f < faces; ++f)
        for (int k = 0; k < 3; ++k) faceOfEdge.emplace(edgeKey(f, k), static_cast<DWORD>(f));
    std::vector<DWORD> adjacency(faces * 3, D3DX_UNUSED_FACE);
    for (size_t f = 0; f < faces; ++f)
        for (int k = 0; k < 3; ++k) {
            std::uint64_t key = edgeKey(f, k);
            auto found = faceOfEdge.find((key << 32) | (key >> 32));
            if (found != faceOfEdge.end() && found->second != f) adjacency[f * 3 + k] = found->second;
        }
    return adjacency;
}

D3DMATERIAL9 MaterialOf(const aiMaterial* source)
{
    D3DMATERIAL9 material{};
    aiColor4D diffuse(0, 0, 0, 1);
    aiColor3D specular(0, 0, 0), emissive(0, 0, 0);
    float power = 0;
    source->Get(AI_MATKEY_COLOR_DIFFUSE, diffuse);
    source->Get(AI_MATKEY_COLOR_SPECULAR, specular);
    source->Get(AI_MATKEY_COLOR_EMISSIVE, emissive);
    source->Get(AI_MATKEY_SHININESS, power);
    material.Diffuse = D3DCOLORVALUE{diffuse.r, diffuse.g, diffuse.b, diffuse.a};
    material.Specular = D3DCOLORVALUE{specular.r, specular.g, specular.b, 1.0f};
    material.Emissive = D3DCOLORVALUE{emissive.r, emissive.g, emissive.b, 1.0f};
    material.Power = power;
    return material;
}

// The texture file the material names, whatever kind assimp filed it under
// (it guesses normal maps from the file name).
std::string TextureNameOf(const aiMaterial* source)
{
    aiString name;
    if (source->GetTexture(aiTextureType_DIFFUSE, 0, &name) != AI_SUCCESS) {
        bool found = false;
        for (int type = aiTextureType_NONE + 1; type <= aiTextureType_UNKNOWN && !found; ++type)
            found = source->GetTexture(static_cast<aiTextureType>(type), 0, &name) == AI_SUCCESS;
        if (!found) return std::string();
    }
    std::string text = name.C_Str();
    std::replace(text.begin(), text.end(), '\\', '/');
    return text;
}

ID3DXBuffer* MakeMaterialBuffer(const aiScene* scene)
{
    std::vector<D3DMATERIAL9> materials;
    std::vector<std::string> names;
    size_t nameBytes = 0;
    for (unsigned m = 0; m < scene->mNumMaterials; ++m) {
        materials.push_back(MaterialOf(scene->mMaterials[m]));
        names.push_back(TextureNameOf(scene->mMaterials[m]));
        nameBytes += names.back().size() + 1;
    }
    const size_t tableBytes = materials.size() * sizeof(D3DXMATERIAL);
    auto* buffer = new ID3DXBuffer(tableBytes + nameBytes);
    auto* base = static_cast<std::uint8_t*>(buffer->GetBufferPointer());
    char* text = reinterpret_cast<char*>(base + tableBytes);
    for (size_t m = 0; m < materials.size(); ++m) {
        D3DXMATERIAL entry{materials[m], nullptr};
        if (!names[m].empty()) {
            std::memcpy(text, names[m].c_str(), names[m].size() + 1);
            entry.pTextureFilename = text;
            text += names[m].size() + 1;
        }
        std::memcpy(base + m * sizeof(D3DXMATERIAL), &entry, sizeof entry);
    }
    return buffer;
}

bool FacesHaveCorners(const aiScene* scene)
{
    for (unsigned m = 0; m < scene->mNumMeshes; ++m) {
        const aiMesh* mesh = scene->mMeshes[m];
        for (unsigned f = 0; f < mesh->mNumFaces; ++f)
            if (mesh->mFaces[f].mNumIndices == 0 || mesh->mFaces[f].mIndices == nullptr) return false;
    }
    return true;
}

// A logo mesh reads in milliseconds; a reader still busy after this is stuck.
constexpr std::chrono::milliseconds kReadLimit{10000};
// A mesh the installation draws is tens of KB; the check lets counts grow
// with the file, so the file's size bounds what the reader may allocate.
constexpr std::uint64_t kLargestXFile = std::uint64_t{16} << 20;

// The scene of a .x file, or null with the reason. Read and validated first,
// post-processed only once the faces are known to be sound: assimp's
// triangulation aborts the process on a face without corners, which its
// validation lets through.
const aiScene* ReadScene(Assimp::Importer& importer, const std::vector<char>& bytes, std::string* whyNot)
{
    const aiScene* scene = importer.ReadFileFromMemory(bytes.data(), bytes.size(), aiProcess_ValidateDataStructure, "x");
    if (scene != nullptr && scene->mRootNode != nullptr && !FacesHaveCorners(scene)) {
        *whyNot = "a face has no corners";
        return nullptr;
    }
    if (scene != nullptr && scene->mRootNode != nullptr)
        scene = importer.ApplyPostProcessing(aiProcess_ConvertToLeftHanded | aiProcess_Triangulate |
                                             aiProcess_JoinIdenticalVertices | aiProcess_SortByPType |
                                             aiProcess_ImproveCacheLocality);
    if (scene == nullptr || scene->mRootNode == nullptr) {
        *whyNot = std::string("unreadable .x data: ") + importer.GetErrorString();
        return nullptr;
    }
    return scene;
}

HRESULT Refuse(HRESULT code, std::string* whyNot, const std::string& reason)
{
    if (whyNot != nullptr) *whyNot = reason;
    return code;
}

}  // namespace

namespace platform {

HRESULT LoadMeshFromX(const char* path, DWORD options, IDirect3DDevice9* device, ID3DXBuffer** adjacency,
                      ID3DXBuffer** materials, DWORD* materialCount, ID3DXMesh** mesh, std::string* whyNot)
{
    if (path == nullptr || mesh == nullptr) return Refuse(D3DERR_INVALIDCALL, whyNot, "no file or no mesh to fill");
    *mesh = nullptr;
    if ((options & D3DXMESH_32BIT) != 0)
        return Refuse(D3DERR_INVALIDCALL, whyNot, "meshes with 32-bit indices are not supported");

    std::vector<char> bytes;
    std::string why;
    if (!ReadRegularFile(path, kLargestXFile, bytes, why))
        return Refuse(why == "missing" ? D3DERR_NOTFOUND : D3DXERR_INVALIDDATA, whyNot,
                      why == "missing" ? "cannot open the file" : why);
    return LoadMeshFromXInMemory(bytes, options, device, adjacency, materials, materialCount, mesh, whyNot);
}

HRESULT LoadMeshFromXInMemory(const std::vector<char>& bytes, DWORD options, IDirect3DDevice9* device,
                              ID3DXBuffer** adjacency, ID3DXBuffer** materials, DWORD* materialCount,
                              ID3DXMesh** mesh, std::string* whyNot)
{
    if (mesh == nullptr) return Refuse(D3DERR_INVALIDCALL, whyNot, "no mesh to fill");
    *mesh = nullptr;
    if ((options & D3DXMESH_32BIT) != 0)
        return Refuse(D3DERR_INVALIDCALL, whyNot, "meshes with 32-bit indices are not supported");
    std::string reason;
    if (!CheckXFileBytes(bytes, &reason)) return Refuse(D3DXERR_INVALIDDATA, whyNot, reason);

    // NOTE: assimp's .x reader crashes on some damaged files that pass the
    // check above, so a child process reads the file first; only a file it
    // read without crashing is read here.
    const ChildResult trial = RunInChildProcess(
        [&bytes] {
            Assimp::Importer importer;
            std::string ignored;
            return ReadScene(importer, bytes, &ignored) != nullptr ? 0 : 1;
        },
        kReadLimit);
    if (trial.outcome == ChildResult::Failed)
        return Refuse(D3DXERR_INVALIDDATA, whyNot, "the .x reader " + trial.whyNot + " on this file");
    Assimp::Importer importer;
    const aiScene* scene = ReadScene(importer, bytes, &reason);
    if (scene == nullptr) return Refuse(D3DXERR_INVALIDDATA, whyNot, reason);

    LoadedGeometry geometry;
    Collect(scene, scene->mRootNode, aiMatrix4x4(), geometry);
    const size_t faces = geometry.attributes.size();
    if (faces == 0) return Refuse(D3DXERR_LOADEDMESHHASNODATA, whyNot, "the file holds no triangles");
    if (geometry.positions.size() > MaxVerticesFor16BitIndices)
        return Refuse(D3DXERR_INVALIDMESH, whyNot,
                      "the mesh needs 32-bit indices (" + std::to_string(geometry.positions.size()) +
                          " vertices; at most " + std::to_string(MaxVerticesFor16BitIndices) + " fit 16-bit indices)");

    DWORD fvf = D3DFVF_XYZ | (geometry.hasNormals ? D3DFVF_NORMAL : 0) | (geometry.hasUvs ? D3DFVF_TEX1 : 0);
    auto* result = new ID3DXMesh(static_cast<DWORD>(faces), static_cast<DWORD>(geometry.positions.size()),
                                 options, fvf, device);
    const FvfLayout layout = LayoutOf(fvf);
    std::vector<std::uint8_t>& vertices = result->Vertices();
    for (size_t v = 0; v < geometry.positions.size(); ++v) {
        std::uint8_t* p = &vertices[v * layout.size];
        WriteFloat3(p + layout.position, geometry.positions[v]);
        if (layout.normal >= 0) WriteFloat3(p + layout.normal, geometry.normals[v]);
        if (layout.texture >= 0) {
            float uv[2] = {geometry.uvs[v].first, geometry.uvs[v].second};
            std::memcpy(p + layout.texture, uv, sizeof uv);
        }
    }
    std::uint8_t* indices = result->Indices().data();
    for (size_t i = 0; i < geometry.indices.size(); ++i) {
        auto index = static_cast<std::uint16_t>(geometry.indices[i]);
        std::memcpy(indices + i * 2, &index, 2);
    }
    std::copy(geometry.attributes.begin(), geometry.attributes.end(), result->Attributes().begin());

    if (adjacency != nullptr) {
        std::vector<DWORD> table = ComputeAdjacency(geometry);
        auto* buffer = new ID3DXBuffer(table.size() * sizeof(DWORD));
        std::memcpy(buffer->GetBufferPointer(), table.data(), table.size() * sizeof(DWORD));
        *adjacency = buffer;
    }
    if (materials != nullptr) *materials = MakeMaterialBuffer(scene);
    if (materialCount != nullptr) *materialCount = scene->mNumMaterials;
    *mesh = result;
    return D3D_OK;
}

}  // namespace platform
