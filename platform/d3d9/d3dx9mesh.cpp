// D3DX meshes on assimp: the mesh object, its optimisation and cloning,
// normal computation, and the .x loader.
//
// NOTE: assimp's .x importer turns the file's left-handed data into its own
// right-handed convention (z mirrored, v flipped, winding reversed) and
// aiProcess_ConvertToLeftHanded turns all three back, so positions, texture
// coordinates and winding come out exactly as written in the file. It also
// emits one vertex per face corner; aiProcess_JoinIdenticalVertices merges
// corners that agree in every attribute, as D3DX's loader keeps them shared.
#include "platform/d3d9/d3dx9mesh.h"

#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <new>
#include <tuple>
#include <unordered_map>

#include "common/RegularFile.h"
#include "platform/files/XFileCheck.h"
#include "platform/system/ChildProcess.h"

// ---------------------------------------------------------------------------
// Vertex formats

namespace {

struct FvfLayout {
    int position = -1, normal = -1, diffuse = -1, specular = -1, texture = -1;
    DWORD textureSets = 0;
    DWORD size = 0;
};

FvfLayout LayoutOf(DWORD fvf)
{
    FvfLayout layout;
    DWORD offset = 0;
    DWORD position = fvf & D3DFVF_POSITION_MASK;
    if (position == D3DFVF_XYZ) {
        layout.position = 0;
        offset = 12;
    } else if (position == D3DFVF_XYZRHW) {
        layout.position = 0;
        offset = 16;
    }
    if ((fvf & D3DFVF_NORMAL) != 0) {
        layout.normal = static_cast<int>(offset);
        offset += 12;
    }
    if ((fvf & D3DFVF_PSIZE) != 0) offset += 4;
    if ((fvf & D3DFVF_DIFFUSE) != 0) {
        layout.diffuse = static_cast<int>(offset);
        offset += 4;
    }
    if ((fvf & D3DFVF_SPECULAR) != 0) {
        layout.specular = static_cast<int>(offset);
        offset += 4;
    }
    layout.textureSets = std::min<DWORD>((fvf & D3DFVF_TEXCOUNT_MASK) >> 8, 8);
    if (layout.textureSets > 0) layout.texture = static_cast<int>(offset);
    offset += layout.textureSets * 8;
    layout.size = offset;
    return layout;
}

struct Float3 {
    float x, y, z;
};

Float3 Sub(Float3 a, Float3 b) { return Float3{a.x - b.x, a.y - b.y, a.z - b.z}; }
Float3 Cross(Float3 a, Float3 b) { return Float3{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
float Dot(Float3 a, Float3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
float Length(Float3 a) { return std::sqrt(Dot(a, a)); }

Float3 ReadFloat3(const std::uint8_t* p)
{
    Float3 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void WriteFloat3(std::uint8_t* p, Float3 v) { std::memcpy(p, &v, sizeof v); }

}  // namespace

DWORD D3DXGetFVFVertexSize(DWORD fvf) { return LayoutOf(fvf).size; }

// ---------------------------------------------------------------------------
// Buffers

HRESULT MeshStorage::LockBytes(UINT offset, UINT size, void** data, DWORD)
{
    if (data == nullptr || offset > bytes_.size() || size > bytes_.size() - offset) return D3DERR_INVALIDCALL;
    ++locks_;
    *data = bytes_.data() + offset;
    return D3D_OK;
}

HRESULT MeshStorage::UnlockBytes()
{
    if (locks_ > 0) --locks_;
    return D3D_OK;
}

// ---------------------------------------------------------------------------
// The mesh

ID3DXMesh::ID3DXMesh(DWORD faces, DWORD vertices, DWORD options, DWORD fvf, IDirect3DDevice9* device)
    : faceCount_(faces),
      vertexCount_(vertices),
      options_(options),
      fvf_(fvf),
      stride_(D3DXGetFVFVertexSize(fvf)),
      device_(device),
      vertexBuffer_(new MeshVertexBuffer),
      indexBuffer_(new MeshIndexBuffer),
      attributes_(faces, 0)
{
    vertexBuffer_->Bytes().assign(static_cast<size_t>(vertices) * stride_, 0);
    indexBuffer_->Bytes().assign(static_cast<size_t>(faces) * 3 * sizeof(std::uint16_t), 0);
}

ID3DXMesh::~ID3DXMesh()
{
    vertexBuffer_->Release();
    indexBuffer_->Release();
}

HRESULT ID3DXMesh::GetVertexBuffer(IDirect3DVertexBuffer9** buffer)
{
    if (buffer == nullptr) return D3DERR_INVALIDCALL;
    vertexBuffer_->AddRef();
    *buffer = vertexBuffer_;
    return D3D_OK;
}

HRESULT ID3DXMesh::GetIndexBuffer(IDirect3DIndexBuffer9** buffer)
{
    if (buffer == nullptr) return D3DERR_INVALIDCALL;
    indexBuffer_->AddRef();
    *buffer = indexBuffer_;
    return D3D_OK;
}

HRESULT ID3DXMesh::LockVertexBuffer(DWORD flags, void** data) { return vertexBuffer_->Lock(0, 0, data, flags); }
HRESULT ID3DXMesh::UnlockVertexBuffer() { return vertexBuffer_->Unlock(); }
HRESULT ID3DXMesh::LockIndexBuffer(DWORD flags, void** data) { return indexBuffer_->Lock(0, 0, data, flags); }
HRESULT ID3DXMesh::UnlockIndexBuffer() { return indexBuffer_->Unlock(); }

HRESULT ID3DXMesh::UnlockAttributeBuffer() { return D3D_OK; }

HRESULT ID3DXMesh::GetAttributeTable(D3DXATTRIBUTERANGE* table, DWORD* size)
{
    if (size == nullptr) return D3DERR_INVALIDCALL;
    if (table != nullptr) std::copy(attributeTable_.begin(), attributeTable_.begin() + std::min<size_t>(*size, attributeTable_.size()), table);
    *size = static_cast<DWORD>(attributeTable_.size());
    return D3D_OK;
}

DWORD ID3DXMesh::IndexAt(DWORD face, int corner) const
{
    std::uint16_t index;
    std::memcpy(&index, indexBuffer_->Bytes().data() + (static_cast<size_t>(face) * 3 + corner) * 2, 2);
    return index;
}

HRESULT ID3DXMesh::OptimizeInplace(DWORD flags, const DWORD* adjacencyIn, DWORD* adjacencyOut, DWORD* faceRemap,
                                   ID3DXBuffer** vertexRemap)
{
    if (vertexBuffer_->IsLocked() || indexBuffer_->IsLocked()) return D3DERR_INVALIDCALL;
    for (DWORD f = 0; f < faceCount_; ++f)
        for (int k = 0; k < 3; ++k)
            if (IndexAt(f, k) >= vertexCount_) return D3DXERR_INVALIDMESH;

    // Face order: grouped by attribute when asked, otherwise unchanged.
    std::vector<DWORD> faceOrder(faceCount_);
    for (DWORD f = 0; f < faceCount_; ++f) faceOrder[f] = f;
    if ((flags & D3DXMESHOPT_ATTRSORT) != 0)
        std::stable_sort(faceOrder.begin(), faceOrder.end(),
                         [&](DWORD a, DWORD b) { return attributes_[a] < attributes_[b]; });

    std::vector<DWORD> oldIndices(static_cast<size_t>(faceCount_) * 3);
    for (DWORD f = 0; f < faceCount_; ++f)
        for (int k = 0; k < 3; ++k) oldIndices[f * 3 + k] = IndexAt(f, k);

    // Vertex order: first use by the new face order; unused vertices are dropped.
    const bool renumber = (flags & (D3DXMESHOPT_COMPACT | D3DXMESHOPT_VERTEXCACHE)) != 0;
    std::vector<DWORD> newIndexOf(vertexCount_, D3DX_UNUSED_FACE);
    std::vector<DWORD> oldVertexOf;
    if (renumber) {
        for (DWORD f : faceOrder)
            for (int k = 0; k < 3; ++k) {
                DWORD old = oldIndices[f * 3 + k];
                if (old < vertexCount_ && newIndexOf[old] == D3DX_UNUSED_FACE) {
                    newIndexOf[old] = static_cast<DWORD>(oldVertexOf.size());
                    oldVertexOf.push_back(old);
                }
            }
    } else {
        for (DWORD v = 0; v < vertexCount_; ++v) {
            newIndexOf[v] = v;
            oldVertexOf.push_back(v);
        }
    }

    std::vector<std::uint8_t> oldVertices = vertexBuffer_->Bytes();
    std::vector<std::uint8_t>& vertices = vertexBuffer_->Bytes();
    vertices.assign(oldVertexOf.size() * stride_, 0);
    for (size_t v = 0; v < oldVertexOf.size(); ++v)
        std::memcpy(&vertices[v * stride_], &oldVertices[static_cast<size_t>(oldVertexOf[v]) * stride_], stride_);
    vertexCount_ = static_cast<DWORD>(oldVertexOf.size());

    std::vector<DWORD> oldAttributes = attributes_;
    std::vector<DWORD> newFaceOf(faceCount_);
    std::uint8_t* indices = indexBuffer_->Bytes().data();
    for (DWORD f = 0; f < faceCount_; ++f) {
        DWORD old = faceOrder[f];
        newFaceOf[old] = f;
        attributes_[f] = oldAttributes[old];
        for (int k = 0; k < 3; ++k) {
            auto index = static_cast<std::uint16_t>(newIndexOf[oldIndices[old * 3 + k]]);
            std::memcpy(indices + (static_cast<size_t>(f) * 3 + k) * 2, &index, 2);
        }
        if (faceRemap != nullptr) faceRemap[f] = old;
    }

    if (adjacencyIn != nullptr && adjacencyOut != nullptr) {
        std::vector<DWORD> adjacency(static_cast<size_t>(faceCount_) * 3);
        for (DWORD f = 0; f < faceCount_; ++f)
            for (int k = 0; k < 3; ++k) {
                DWORD neighbour = adjacencyIn[faceOrder[f] * 3 + k];
                adjacency[f * 3 + k] = neighbour < faceCount_ ? newFaceOf[neighbour] : D3DX_UNUSED_FACE;
            }
        std::copy(adjacency.begin(), adjacency.end(), adjacencyOut);
    }

    if (vertexRemap != nullptr) {
        auto* remap = new ID3DXBuffer(oldVertexOf.size() * sizeof(DWORD));
        if (!oldVertexOf.empty()) std::memcpy(remap->GetBufferPointer(), oldVertexOf.data(), oldVertexOf.size() * sizeof(DWORD));
        *vertexRemap = remap;
    }

    attributeTable_.clear();
    if ((flags & D3DXMESHOPT_ATTRSORT) != 0) {
        for (DWORD f = 0; f < faceCount_; ++f) {
            if (attributeTable_.empty() || attributeTable_.back().AttribId != attributes_[f])
                attributeTable_.push_back(D3DXATTRIBUTERANGE{attributes_[f], f, 0, 0xFFFFFFFFu, 0});
            D3DXATTRIBUTERANGE& range = attributeTable_.back();
            ++range.FaceCount;
            for (int k = 0; k < 3; ++k) {
                DWORD index = IndexAt(f, k);
                DWORD last = range.VertexCount == 0 ? index : std::max(range.VertexStart + range.VertexCount - 1, index);
                range.VertexStart = std::min(range.VertexStart, index);
                range.VertexCount = last - range.VertexStart + 1;
            }
        }
    }
    return D3D_OK;
}

HRESULT ID3DXMesh::CloneMeshFVF(DWORD options, DWORD fvf, IDirect3DDevice9* device, ID3DXMesh** clone)
{
    if (clone == nullptr) return D3DERR_INVALIDCALL;
    ID3DXMesh* copy = nullptr;
    // Direct3D reports a full memory as a result, and callers test for one.
    try {
        copy = new ID3DXMesh(faceCount_, vertexCount_, options, fvf, device);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    const FvfLayout from = LayoutOf(fvf_);
    const FvfLayout to = LayoutOf(fvf);
    const std::vector<std::uint8_t>& source = vertexBuffer_->Bytes();
    std::vector<std::uint8_t>& target = copy->Vertices();
    auto copyField = [&](int fromOffset, int toOffset, size_t bytes, DWORD v) {
        if (fromOffset >= 0 && toOffset >= 0)
            std::memcpy(&target[static_cast<size_t>(v) * to.size + toOffset], &source[static_cast<size_t>(v) * from.size + fromOffset], bytes);
    };
    for (DWORD v = 0; v < vertexCount_; ++v) {
        copyField(from.position, to.position, 12, v);
        copyField(from.normal, to.normal, 12, v);
        copyField(from.diffuse, to.diffuse, 4, v);
        copyField(from.specular, to.specular, 4, v);
        copyField(from.texture, to.texture, std::min(from.textureSets, to.textureSets) * 8, v);
    }
    copy->Indices() = indexBuffer_->Bytes();
    copy->attributes_ = attributes_;
    copy->attributeTable_ = attributeTable_;
    *clone = copy;
    return D3D_OK;
}

HRESULT ID3DXMesh::DrawSubset(DWORD attribId)
{
    if (device_ == nullptr) return D3DERR_INVALIDCALL;
    std::vector<std::uint16_t> indices;
    for (DWORD f = 0; f < faceCount_; ++f)
        if (attributes_[f] == attribId)
            for (int k = 0; k < 3; ++k) indices.push_back(static_cast<std::uint16_t>(IndexAt(f, k)));
    if (indices.empty()) return D3D_OK;
    HRESULT result = device_->SetFVF(fvf_);
    if (FAILED(result)) return result;
    return device_->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, vertexCount_, static_cast<UINT>(indices.size() / 3),
                                           indices.data(), D3DFMT_INDEX16, vertexBuffer_->Bytes().data(), stride_);
}

// ---------------------------------------------------------------------------
// Normals

HRESULT D3DXComputeNormals(ID3DXMesh* mesh, const DWORD*)
{
    if (mesh == nullptr) return D3DERR_INVALIDCALL;
    const FvfLayout layout = LayoutOf(mesh->GetFVF());
    if (layout.normal < 0 || layout.position < 0) return D3DERR_INVALIDCALL;
    std::vector<std::uint8_t>& vertices = mesh->Vertices();
    const DWORD vertexCount = mesh->GetNumVertices();
    std::vector<Float3> sums(vertexCount, Float3{0, 0, 0});
    auto positionOf = [&](DWORD v) { return ReadFloat3(&vertices[static_cast<size_t>(v) * layout.size + layout.position]); };

    for (DWORD f = 0; f < mesh->GetNumFaces(); ++f) {
        DWORD corner[3] = {mesh->IndexAt(f, 0), mesh->IndexAt(f, 1), mesh->IndexAt(f, 2)};
        if (corner[0] >= vertexCount || corner[1] >= vertexCount || corner[2] >= vertexCount) continue;
        Float3 p[3] = {positionOf(corner[0]), positionOf(corner[1]), positionOf(corner[2])};
        Float3 normal = Cross(Sub(p[1], p[0]), Sub(p[2], p[0]));
        float length = Length(normal);
        if (length <= 0.0f) continue;  // degenerate: no direction to give
        normal = Float3{normal.x / length, normal.y / length, normal.z / length};
        for (int k = 0; k < 3; ++k) {
            Float3 a = Sub(p[(k + 1) % 3], p[k]);
            Float3 b = Sub(p[(k + 2) % 3], p[k]);
            float la = Length(a), lb = Length(b);
            if (la <= 0.0f || lb <= 0.0f) continue;
            float angle = std::acos(std::clamp(Dot(a, b) / (la * lb), -1.0f, 1.0f));
            Float3& sum = sums[corner[k]];
            sum = Float3{sum.x + normal.x * angle, sum.y + normal.y * angle, sum.z + normal.z * angle};
        }
    }
    for (DWORD v = 0; v < vertexCount; ++v) {
        Float3 n = sums[v];
        float length = Length(n);
        if (length > 0.0f) n = Float3{n.x / length, n.y / length, n.z / length};
        WriteFloat3(&vertices[static_cast<size_t>(v) * layout.size + layout.normal], n);
    }
    return D3D_OK;
}

// ---------------------------------------------------------------------------
// Loading

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

HRESULT D3DXLoadMeshFromXA(const char* path, DWORD options, IDirect3DDevice9* device, ID3DXBuffer** adjacency,
                           ID3DXBuffer** materials, ID3DXBuffer** effectInstances, DWORD* materialCount,
                           ID3DXMesh** mesh)
{
    if (effectInstances != nullptr) *effectInstances = nullptr;
    return platform::LoadMeshFromX(path, options, device, adjacency, materials, materialCount, mesh, nullptr);
}
