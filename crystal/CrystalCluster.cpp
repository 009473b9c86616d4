// Creation and placement of the sixteen crystals, their steps and drawing.
#include "crystal/CrystalCluster.h"

#include <cmath>
#include <memory>

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
    const Matrix4 mirrored = MatrixMultiply(matrix, Mirror());
    for (int k = 0; k < Count; ++k)
        if (crystals[k]) crystals[k]->Update(device, k < Upright ? matrix : mirrored);
}

void CrystalCluster::Draw(IDirect3DDevice9* device, const Matrix4& matrix)
{
    const Matrix4 mirrored = MatrixMultiply(matrix, Mirror());
    for (int k = 0; k < Count; ++k)
        if (crystals[k]) crystals[k]->Draw(device, k < Upright ? matrix : mirrored);
}

bool CrystalCluster::FlashRequested() const
{
    for (const auto& crystal : crystals)
        if (crystal && crystal->flashRequest) return true;
    return false;
}
