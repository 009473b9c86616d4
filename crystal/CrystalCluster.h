// The sixteen crystals on a circle of radius 12 about the scene origin:
// eight standing and eight mirror images hanging below the floor plane.
#pragma once

#include <memory>

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
    void Draw(IDirect3DDevice9* device, const Matrix4& matrix);
    // True while any crystal, mirrored ones included, asks for a flash.
    bool FlashRequested() const;

    // diag(1, -1, 1, 1): the reflection in the plane y = 0.
    static Matrix4 Mirror();

    World* world = nullptr;
    std::unique_ptr<Crystal> crystals[Count];
};
