// Base of every positioned and oriented 3D object (the crystal objects and
// the logo): a position, an orientation quaternion, and moves and turns in
// the node's own axes.
#pragma once

#include <string>

#include "common/NonCopyable.h"
#include "scenery/Matrix4.h"
#include "scenery/Quaternion.h"
#include "scenery/Vector3.h"

class IDirect3DDevice9;

// Degrees to radians, the factor the whole scene uses.
constexpr float DegreesToRadians = 0.017453289f;

class SceneNode : NonCopyable {
public:
    SceneNode() = default;
    virtual ~SceneNode() = default;

    virtual void Update(IDirect3DDevice9* device, const Matrix4& matrix) = 0;
    // Moves by (dx, dy, dz) given in the node's own axes.
    virtual void Move(float dx, float dy, float dz);
    // Turns about the node's own x axis (aboutHorizontal) or y axis.
    virtual void Turn(bool aboutHorizontal, float degrees);

    std::string name;
    Vector3 position;
    Quaternion orientation;
    Quaternion previousOrientation;
};
