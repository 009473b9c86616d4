// Loading the logo into a triangle list, and drawing it.
#include "scenery/LogoMesh.h"

#include <cstring>
#include <filesystem>

#include "common/Log.h"

bool LogoMesh::LoadLogo(IDirect3DDevice9* targetDevice, const std::string& dataFolder)
{
    const std::filesystem::path folder(dataFolder);
    // The texture is optional: without it the logo is drawn untextured.
    logoTexture.LoadFromFile(targetDevice, (folder / "logo.bmp").string().c_str());
    return LoadTriangles(targetDevice, (folder / "logo.x").string().c_str());
}

bool LogoMesh::LoadTriangles(IDirect3DDevice9* targetDevice, const char* filePath)
{
    triangleVertices.clear();
    vertexCount = 0;
    faceCount = 0;
    if (!Load(targetDevice, filePath)) return false;
    // NOTE: the vertices are copied 32 bytes at a time below, so a failed
    // conversion must stop here rather than read a narrower vertex buffer.
    if (!ConvertToFvf(LogoVertexFormat) || mesh->GetNumBytesPerVertex() != sizeof(LogoVertex)) {
        LogLine("logo", "cannot convert the mesh of %s to position/normal/uv vertices", path.c_str());
        return false;
    }

    IDirect3DVertexBuffer9* vertexBuffer = nullptr;
    IDirect3DIndexBuffer9* indexBuffer = nullptr;
    mesh->GetVertexBuffer(&vertexBuffer);
    mesh->GetIndexBuffer(&indexBuffer);
    void* vertexData = nullptr;
    void* indexData = nullptr;
    vertexBuffer->Lock(0, 0, &vertexData, 0);
    indexBuffer->Lock(0, 0, &indexData, 0);
    vertexCount = mesh->GetNumVertices();
    faceCount = mesh->GetNumFaces();

    std::vector<LogoVertex> vertices(vertexCount);
    std::memcpy(vertices.data(), vertexData, vertices.size() * sizeof(LogoVertex));
    const auto* indices = static_cast<const std::uint16_t*>(indexData);
    triangleVertices.reserve(static_cast<size_t>(faceCount) * 3);
    for (DWORD i = 0; i < faceCount * 3; ++i) triangleVertices.push_back(vertices[indices[i]]);

    vertexBuffer->Unlock();
    indexBuffer->Unlock();
    vertexBuffer->Release();
    indexBuffer->Release();
    return true;
}

void LogoMesh::Draw(IDirect3DDevice9* targetDevice, const Matrix4& matrix)
{
    if (targetDevice == nullptr || triangleVertices.empty()) return;
    // QuaternionToMatrix turns column vectors; Direct3D's rows need its transpose.
    const Matrix4 turn = QuaternionToMatrix(orientation);
    Matrix4 local = MatrixIdentity();
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) local.m[r][c] = turn.m[c][r];
    local._41 = position.x;
    local._42 = position.y;
    local._43 = position.z;
    const Matrix4 world = MultiplyMatrices(local, matrix);

    D3DMATERIAL9 white{};
    white.Diffuse = D3DCOLORVALUE{1, 1, 1, 1};
    white.Ambient = D3DCOLORVALUE{1, 1, 1, 1};
    targetDevice->SetTransform(D3DTS_WORLD, &world);
    targetDevice->SetMaterial(&white);
    targetDevice->SetTexture(0, logoTexture.texture);
    targetDevice->SetFVF(LogoVertexFormat);
    targetDevice->DrawPrimitiveUP(D3DPT_TRIANGLELIST, faceCount, triangleVertices.data(), sizeof(LogoVertex));
    targetDevice->SetTexture(0, nullptr);
}

void LogoMesh::Update(IDirect3DDevice9*, const Matrix4&) {}
