// The D3DX mesh: an indexed triangle list with one attribute (material
// number) per face, the in-place optimisation, cloning to another vertex
// format, normal computation and subset drawing.
//
// Meshes live in CPU memory only (the scene draws with DrawPrimitiveUP-style
// calls), and indices are 16-bit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/d3d9/d3d9.h"

// ---------------------------------------------------------------------------
// Constants

constexpr DWORD D3DXMESH_32BIT = 0x001;
constexpr DWORD D3DXMESH_SYSTEMMEM = 0x110;
constexpr DWORD D3DXMESH_MANAGED = 0x220;

constexpr DWORD D3DXMESHOPT_COMPACT = 0x01000000;
constexpr DWORD D3DXMESHOPT_ATTRSORT = 0x02000000;
constexpr DWORD D3DXMESHOPT_VERTEXCACHE = 0x04000000;

constexpr DWORD D3DX_UNUSED_FACE = 0xFFFFFFFFu;  // adjacency entry of an open edge

constexpr HRESULT D3DXERR_INVALIDMESH = static_cast<HRESULT>(0x88760B55u);
constexpr HRESULT D3DXERR_INVALIDDATA = static_cast<HRESULT>(0x88760B59u);
constexpr HRESULT D3DXERR_LOADEDMESHHASNODATA = static_cast<HRESULT>(0x88760B5Au);

// Largest vertex count a mesh with 16-bit indices can address.
constexpr DWORD MaxVerticesFor16BitIndices = 0xFFFF;

// ---------------------------------------------------------------------------
// Records

struct D3DXMATERIAL {
    D3DMATERIAL9 MatD3D;
    char* pTextureFilename;  // null when the material names no texture
};

struct D3DXATTRIBUTERANGE {
    DWORD AttribId;
    DWORD FaceStart;
    DWORD FaceCount;
    DWORD VertexStart;
    DWORD VertexCount;
};

// ---------------------------------------------------------------------------
// Objects (reference counted like the device's objects)

// A block of bytes handed out by the loader (adjacency, materials).
class ID3DXBuffer : public Unknown {
public:
    explicit ID3DXBuffer(size_t size) : bytes_(size) {}
    void* GetBufferPointer() { return bytes_.empty() ? nullptr : bytes_.data(); }
    DWORD GetBufferSize() const { return static_cast<DWORD>(bytes_.size()); }

private:
    std::vector<std::uint8_t> bytes_;
};

// Vertex and index storage of a mesh, lockable like Direct3D's buffers.
class MeshStorage {
public:
    HRESULT LockBytes(UINT offset, UINT size, void** data, DWORD flags);
    HRESULT UnlockBytes();
    std::vector<std::uint8_t>& Bytes() { return bytes_; }
    bool IsLocked() const { return locks_ > 0; }

private:
    std::vector<std::uint8_t> bytes_;
    int locks_ = 0;
};

class MeshVertexBuffer final : public IDirect3DVertexBuffer9, public MeshStorage {
public:
    HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) override { return LockBytes(offset, size, data, flags); }
    HRESULT Unlock() override { return UnlockBytes(); }
    UINT Length() const override { return static_cast<UINT>(const_cast<MeshVertexBuffer*>(this)->Bytes().size()); }
};

class MeshIndexBuffer final : public IDirect3DIndexBuffer9, public MeshStorage {
public:
    HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) override { return LockBytes(offset, size, data, flags); }
    HRESULT Unlock() override { return UnlockBytes(); }
    UINT Length() const override { return static_cast<UINT>(const_cast<MeshIndexBuffer*>(this)->Bytes().size()); }
    D3DFORMAT Format() const override { return D3DFMT_INDEX16; }
};

class ID3DXMesh : public Unknown {
public:
    // An empty mesh of the given size; vertices and indices are zero. Every
    // mesh lives in CPU memory, whatever the options ask for.
    ID3DXMesh(DWORD faces, DWORD vertices, DWORD options, DWORD fvf, IDirect3DDevice9* device);

    DWORD GetNumFaces() const { return faceCount_; }
    DWORD GetNumVertices() const { return vertexCount_; }
    DWORD GetFVF() const { return fvf_; }
    DWORD GetNumBytesPerVertex() const { return stride_; }

    HRESULT GetVertexBuffer(IDirect3DVertexBuffer9** buffer);  // adds a reference
    HRESULT GetIndexBuffer(IDirect3DIndexBuffer9** buffer);    // adds a reference
    HRESULT LockVertexBuffer(DWORD flags, void** data);
    HRESULT UnlockVertexBuffer();
    HRESULT LockIndexBuffer(DWORD flags, void** data);
    HRESULT UnlockIndexBuffer();
    // Ranges of faces sharing one attribute, valid after an attribute sort.
    HRESULT GetAttributeTable(D3DXATTRIBUTERANGE* table, DWORD* size);

    // Reorders faces and vertices in place: D3DXMESHOPT_ATTRSORT groups the
    // faces by attribute (keeping their order within a group) and builds the
    // attribute table; D3DXMESHOPT_COMPACT and D3DXMESHOPT_VERTEXCACHE drop
    // unused vertices and number the rest in the order the faces first use
    // them. faceRemap[new] = old face; vertexRemap holds old vertex indices.
    HRESULT OptimizeInplace(DWORD flags, const DWORD* adjacencyIn, DWORD* adjacencyOut, DWORD* faceRemap,
                            ID3DXBuffer** vertexRemap);
    // A copy in another vertex format; fields the old format lacks are zero.
    HRESULT CloneMeshFVF(DWORD options, DWORD fvf, IDirect3DDevice9* device, ID3DXMesh** clone);
    // Draws the faces of one attribute as an indexed triangle list.
    HRESULT DrawSubset(DWORD attribId);

    // Not part of D3DX: direct access for the loader and the normal builder.
    std::vector<std::uint8_t>& Vertices() { return vertexBuffer_->Bytes(); }
    std::vector<std::uint8_t>& Indices() { return indexBuffer_->Bytes(); }
    std::vector<DWORD>& Attributes() { return attributes_; }
    DWORD IndexAt(DWORD face, int corner) const;

protected:
    ~ID3DXMesh() override;

private:
    DWORD faceCount_;
    DWORD vertexCount_;
    DWORD fvf_;
    DWORD stride_;
    IDirect3DDevice9* device_;
    MeshVertexBuffer* vertexBuffer_;
    MeshIndexBuffer* indexBuffer_;
    std::vector<DWORD> attributes_;
    std::vector<D3DXATTRIBUTERANGE> attributeTable_;
};

// ---------------------------------------------------------------------------
// Functions

// Size in bytes of a vertex of the given format (XYZ or XYZRHW, NORMAL,
// DIFFUSE, SPECULAR and up to eight 2D texture coordinate sets).
DWORD D3DXGetFVFVertexSize(DWORD fvf);

// Recomputes the normals of a mesh that has them: each vertex gets the
// normalised sum of the normals of the faces using it, weighted by the angle
// of the face at that vertex. Front faces are clockwise, so a face's normal
// is (v1 - v0) x (v2 - v0). Adjacency is not needed and may be null.
HRESULT D3DXComputeNormals(ID3DXMesh* mesh, const DWORD* adjacency);
