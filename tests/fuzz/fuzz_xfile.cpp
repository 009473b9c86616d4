// Feeds arbitrary bytes to the .x mesh loader: the quick check first, and
// whatever passes it to assimp and the mesh building behind it.
#include "platform/files/XFileCheck.h"
#include "platform/d3d9/d3dx9mesh.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::vector<char> bytes(data, data + size);
    std::string why;
    const bool passes = platform::CheckXFileBytes(bytes, &why);
    if (!passes && why.empty()) std::abort();
    if (!passes) return 0;

    ID3DXMesh* mesh = nullptr;
    ID3DXBuffer* adjacency = nullptr;
    ID3DXBuffer* materials = nullptr;
    DWORD materialCount = 0;
    const HRESULT hr = platform::LoadMeshFromXInMemory(bytes, D3DXMESH_MANAGED, nullptr, &adjacency, &materials,
                                                       &materialCount, &mesh, &why);
    if (SUCCEEDED(hr)) {
        if (mesh == nullptr || mesh->GetNumFaces() == 0) std::abort();
        mesh->Release();
        if (adjacency != nullptr) adjacency->Release();
        if (materials != nullptr) materials->Release();
    } else if (mesh != nullptr || why.empty()) {
        std::abort();
    }
    return 0;
}
