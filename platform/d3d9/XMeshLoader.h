// Loading a DirectX .x file (text or binary) into a D3DX mesh with its
// materials and texture file names. Files are parsed by assimp; the mesh
// keeps Direct3D's conventions (left-handed coordinates, v downwards,
// clockwise front faces) as the file has them. A file whose mesh needs more
// than 65535 vertices is refused with a message rather than read wrongly.
#pragma once

#include <string>
#include <vector>

#include "platform/d3d9/D3dxMesh.h"

namespace platform {

// Every mesh of the .x file into one mesh, frame transforms applied. The
// adjacency buffer holds three DWORDs per face; the materials buffer holds
// `materialCount` D3DXMATERIALs, their texture names as written in the file
// with backslashes turned into slashes. A failure gives its reason in words
// ("cannot open the file", "the mesh needs 32-bit indices (70000 vertices;
// ...)", ...), for the caller's log.
HRESULT LoadMeshFromX(const char* path, DWORD options, IDirect3DDevice9* device, ID3DXBuffer** adjacency,
                      ID3DXBuffer** materials, DWORD* materialCount, ID3DXMesh** mesh, std::string* whyNot);

// The same for the bytes of a whole .x file already in memory.
HRESULT LoadMeshFromXInMemory(const std::vector<char>& bytes, DWORD options, IDirect3DDevice9* device,
                              ID3DXBuffer** adjacency, ID3DXBuffer** materials, DWORD* materialCount,
                              ID3DXMesh** mesh, std::string* whyNot);

}  // namespace platform
