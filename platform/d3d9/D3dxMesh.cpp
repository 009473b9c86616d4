// The D3DX mesh object: its buffers, in-place optimisation, cloning to
// another vertex format, subset drawing, and normal computation.
#include "platform/d3d9/D3dxMesh.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "platform/d3d9/MeshVertexLayout.h"

using platform::Float3;
using platform::FvfLayout;
using platform::LayoutOf;
using platform::ReadFloat3;
using platform::WriteFloat3;

// ---------------------------------------------------------------------------
// Vertex formats

FvfLayout platform::LayoutOf(DWORD fvf)
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

namespace {

Float3 Sub(Float3 a, Float3 b) { return Float3{a.x - b.x, a.y - b.y, a.z - b.z}; }
Float3 Cross(Float3 a, Float3 b) { return Float3{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
float Dot(Float3 a, Float3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
float Length(Float3 a) { return std::sqrt(Dot(a, a)); }

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

ID3DXMesh::ID3DXMesh(DWORD faces, DWORD vertices, DWORD, DWORD fvf, IDirect3DDevice9* device)
    : faceCount_(faces),
      vertexCount_(vertices),
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
