// Creation and placement of the sixteen crystals, their steps and their one draw.
#include "crystal/CrystalCluster.h"

#include <cmath>
#include <memory>

#include "render/RenderDevice.h"

CrystalCluster::~CrystalCluster()
{
    for (auto& crystal : crystals) crystal.reset();
}

Matrix4 CrystalCluster::Mirror()
{
    Matrix4 m = MatrixIdentity();
    m._22 = -1.0f;
    return m;
}

bool CrystalCluster::Create(World* worldLink, IDirect3DDevice9* device)
{
    world = worldLink;
    for (int k = 0; k < Count; ++k) {
        crystals[k] = std::make_unique<Crystal>();
        if (!crystals[k]->Create(worldLink, device)) return false;
        // The mirrored crystals stand where their upright twins stand.
        const float degrees = 45.0f * static_cast<float>(k % Upright);
        const float radians = degrees * DegreesToRadians;
        CrystalBody& body = *crystals[k]->body;
        body.Turn(false, degrees);
        body.Move(12.0f * std::cos(radians), 0.0f, 12.0f * std::sin(radians));
    }
    return true;
}

void CrystalCluster::Update(IDirect3DDevice9* device, const Matrix4& matrix)
{
    const Matrix4 mirrored = MultiplyMatrices(matrix, Mirror());
    for (int k = 0; k < Count; ++k)
        if (crystals[k]) crystals[k]->Update(device, k < Upright ? matrix : mirrored);
}

void CrystalCluster::Draw(IDirect3DDevice9* device, const Matrix4& matrix)
{
    const Matrix4 mirrored = MultiplyMatrices(matrix, Mirror());
    CrystalBody* bodies[Count] = {};
    for (int k = 0; k < Count; ++k) {
        if (!crystals[k] || !crystals[k]->body) continue;
        bodies[k] = crystals[k]->body.get();
        device->SetTransform(D3DTS_WORLDMATRIX(static_cast<unsigned>(k)),
                             &bodies[k]->Place(k < Upright ? matrix : mirrored));
    }
    // The sixteen sphere maps are copies of one picture, so the first serves all.
    device->SetTexture(0, crystals[0] ? crystals[0]->sphereMap.texture : nullptr);
    SetWhiteMaterial(device, 1.0f);
    device->SetFVF(CrystalVertexFormat);
    // The mirrored crystals wind the other way round; both must show.
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);

    // Sphere-map coordinates: the camera-space normal turned back by the
    // view, then x and -y mapped from [-1, 1] to [0, 1]; that is the face
    // normal turned by the crystal's world matrix alone.
    D3DMATRIX view;
    device->GetTransform(D3DTS_VIEW, &view);
    Matrix4 viewTurn = MatrixIdentity();
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) viewTurn.m[r][c] = view.m[r][c];
    Matrix4 toMap = MatrixIdentity();
    toMap._11 = 0.5f;
    toMap._22 = -0.5f;
    toMap._33 = 0.0f;
    toMap._41 = 0.5f;
    toMap._42 = 0.5f;
    const Matrix4 sphereMap = MultiplyMatrices(MatrixInverseAffine(viewTurn), toMap);
    device->SetTransform(D3DTS_TEXTURE0, &sphereMap);
    device->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACENORMAL);
    device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
    device->SetRenderState(D3DRS_INDEXEDVERTEXBLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_VERTEXBLEND, D3DVBF_0WEIGHTS);

    if (mesh_.Update(device, bodies)) mesh_.Draw(device);

    // Whoever draws next gets one world matrix and the vertices' own coordinates.
    device->SetRenderState(D3DRS_VERTEXBLEND, D3DVBF_DISABLE);
    device->SetRenderState(D3DRS_INDEXEDVERTEXBLENDENABLE, FALSE);
    device->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
    device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    device->SetTexture(0, nullptr);
}

bool CrystalCluster::FlashRequested() const
{
    for (const auto& crystal : crystals)
        if (crystal && crystal->flashRequest) return true;
    return false;
}
