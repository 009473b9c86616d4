// Loading, optimising and drawing a .x mesh with its materials.
#include "scenery/XMesh.h"

#include <filesystem>

#include "common/Log.h"
#include "platform/d3d9/d3dx9.h"

XMesh::~XMesh() { Release(); }

void XMesh::Release()
{
    materials.clear();
    for (IDirect3DTexture9*& texture : textures)
        if (texture != nullptr) {
            texture->Release();
            texture = nullptr;
        }
    textures.clear();
    materialCount = 0;
    if (mesh != nullptr) {
        mesh->Release();
        mesh = nullptr;
    }
}

bool XMesh::Load(IDirect3DDevice9* targetDevice, const char* filePath)
{
    device = targetDevice;
    Release();
    path = filePath != nullptr ? filePath : "";

    ID3DXBuffer* adjacency = nullptr;
    ID3DXBuffer* materialBuffer = nullptr;
    std::string whyNot;
    HRESULT result = platform::LoadMeshFromX(path.c_str(), D3DXMESH_SYSTEMMEM, device, &adjacency, &materialBuffer,
                                             &materialCount, &mesh, &whyNot);
    // Silent: whoever asked for the file reports the failure, once.
    if (FAILED(result)) {
        materialCount = 0;
        return false;
    }
    auto releaseBuffers = [&] {
        adjacency->Release();
        materialBuffer->Release();
    };

    result = mesh->OptimizeInplace(D3DXMESHOPT_COMPACT | D3DXMESHOPT_ATTRSORT | D3DXMESHOPT_VERTEXCACHE,
                                   static_cast<const DWORD*>(adjacency->GetBufferPointer()), nullptr, nullptr, nullptr);
    if (FAILED(result)) {
        LogLine("mesh", "cannot optimise the mesh of %s", path.c_str());
        releaseBuffers();
        return false;
    }

    // Texture names are relative to the .x file's own folder.
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    const auto* fileMaterials = static_cast<const D3DXMATERIAL*>(materialBuffer->GetBufferPointer());
    materials.resize(materialCount);
    textures.assign(materialCount, nullptr);
    for (DWORD i = 0; i < materialCount; ++i) {
        materials[i] = fileMaterials[i].MatD3D;
        const char* name = fileMaterials[i].pTextureFilename;
        if (name == nullptr || name[0] == '\0') continue;
        const std::string texturePath = (folder / name).string();
        if (FAILED(D3DXCreateTextureFromFileA(device, texturePath.c_str(), &textures[i]))) {
            textures[i] = nullptr;
            LogLine("mesh", "texture %s of %s not loaded; its faces are drawn without it", texturePath.c_str(),
                    path.c_str());
        }
    }
    releaseBuffers();
    return true;
}

bool XMesh::ConvertToFvf(DWORD fvf)
{
    if (mesh == nullptr) return false;
    ID3DXMesh* clone = nullptr;
    if (FAILED(mesh->CloneMeshFVF(D3DXMESH_SYSTEMMEM, fvf, device, &clone))) return false;
    mesh->Release();
    mesh = clone;
    D3DXComputeNormals(mesh, nullptr);
    return true;
}

void XMesh::DrawSubsets(IDirect3DDevice9* targetDevice)
{
    if (mesh == nullptr || targetDevice == nullptr) return;
    for (DWORD i = 0; i < materialCount; ++i) {
        targetDevice->SetMaterial(&materials[i]);
        targetDevice->SetTexture(0, textures[i]);
        mesh->DrawSubset(i);
    }
    targetDevice->SetTexture(0, nullptr);
}
