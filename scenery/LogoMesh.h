// The installation's 3D logo: "logo.x" read as an X mesh, turned into a
// plain triangle list of position/normal/uv vertices, with "logo.bmp" as its
// texture, placed in the scene as a scene node. The World loads it at start
// (a missing or broken "logo.x" fails the start); no scene event draws it.
#pragma once

#include <string>
#include <vector>

#include "scenery/SceneNode.h"
#include "scenery/TextureHolder.h"
#include "scenery/XMesh.h"

// The logo's vertex: D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1.
struct LogoVertex {
    float x, y, z;
    float nx, ny, nz;
    float u, v;
};
static_assert(sizeof(LogoVertex) == 32, "the logo's vertices are 32 bytes");

constexpr DWORD LogoVertexFormat = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1;  // 0x112

class LogoMesh : public XMesh, public SceneNode {
public:
    LogoMesh() = default;
    ~LogoMesh() override = default;

    // Loads "logo.bmp" (optional) and "logo.x" (required) from the data folder.
    bool LoadLogo(IDirect3DDevice9* device, const std::string& dataFolder = "data");
    // Loads the mesh file and fills triangleVertices, three per face in face order.
    bool LoadTriangles(IDirect3DDevice9* device, const char* filePath);

    // Draws the triangle list with the logo texture, placed by the node's
    // orientation and position and then by `matrix`.
    virtual void Draw(IDirect3DDevice9* device, const Matrix4& matrix);
    // The logo does not animate by itself.
    void Update(IDirect3DDevice9* device, const Matrix4& matrix) override;

    TextureHolder logoTexture;
    DWORD vertexCount = 0;
    DWORD faceCount = 0;
    std::vector<LogoVertex> triangleVertices;
};
