// A general DirectX .x mesh with its materials and their textures: loaded
// through the D3DX mesh loader, optimised for drawing, and able to change
// its vertex format. The logo is built on it.
#pragma once

#include <string>
#include <vector>

#include "common/NonCopyable.h"
#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/d3dx9mesh.h"

class XMesh : NonCopyable {
public:
    XMesh() = default;
    virtual ~XMesh();

    // Loads the file for the device. Each material's texture is looked for
    // beside the .x file; one that cannot be loaded leaves its material
    // without a texture. False (with a message naming the file) when the
    // file cannot be read as a mesh or the optimisation fails.
    virtual bool Load(IDirect3DDevice9* device, const char* filePath);
    // Draws every material's faces with its material and texture.
    virtual void DrawSubsets(IDirect3DDevice9* device);

    // Gives up the mesh, the materials and the textures; safe to repeat.
    void Release();
    // Replaces the mesh with a copy in the given vertex format and computes
    // its normals. False when there is no mesh or the copy fails.
    bool ConvertToFvf(DWORD fvf);

    std::string path;                               // the file of the last load
    IDirect3DDevice9* device = nullptr;             // not owned
    ID3DXMesh* mesh = nullptr;                      // owned (released)
    std::vector<D3DMATERIAL9> materials;            // one per material
    std::vector<IDirect3DTexture9*> textures;       // one per material, null where none; owned (released)
    DWORD materialCount = 0;
};
