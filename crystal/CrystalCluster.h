// The sixteen crystals on a circle of radius 12 about the scene origin:
// eight standing and eight mirror images hanging below the floor plane.
// They are drawn together, as one draw of the cluster's mesh with each
// crystal's world matrix in D3DTS_WORLDMATRIX(k).
#pragma once

#include <memory>

#include "crystal/ClusterMesh.h"
#include "platform/d3d9/DeviceState.h"
#include "crystal/Crystal.h"
#include "scenery/SceneNode.h"

class World;

class CrystalCluster : public SceneNode {
public:
    static constexpr int Count = 16;
    static constexpr int Upright = 8;

    CrystalCluster() = default;
    ~CrystalCluster() override;

    bool Create(World* worldLink, IDirect3DDevice9* device);
    // One life-cycle step of every crystal; the mirrored ones get M x Mirror.
    void Update(IDirect3DDevice9* device, const Matrix4& matrix) override;
    // Draws the shown rings and lids of all sixteen in one draw; the
    // mirrored ones are placed with M x Mirror.
    void Draw(IDirect3DDevice9* device, const Matrix4& matrix);
    // True while any crystal, mirrored ones included, asks for a flash.
    bool FlashRequested() const;

    // diag(1, -1, 1, 1): the reflection in the plane y = 0.
    static Matrix4 Mirror();

    World* world = nullptr;
    std::unique_ptr<Crystal> crystals[Count];

    const ClusterMesh& Mesh() const { return mesh_; }

private:
    static_assert(Count == ClusterMesh::Bodies, "one mesh slot per crystal");
    static_assert(Count <= DeviceState::kWorldMatrices, "one world matrix per crystal");
    ClusterMesh mesh_;
};
