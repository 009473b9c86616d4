// The shared view state of the scene events and the small rules that move it.
#include "scene/SceneState.h"

#include <cmath>

#include "platform/d3d9/Matrices.h"
#include "scenery/SceneNode.h"

D3DMATRIX ModelRotation = IdentityMatrix();
float RotationAngle = 0.0f;
int FlashAlpha = 0;

namespace {
constexpr float kSteerStep = 2.0f;
constexpr float kDrift = 0.5f;
constexpr int kFlashDecay = 8;
}  // namespace

D3DMATRIX scene::RotationAboutY(float degrees)
{
    float r = degrees * DegreesToRadians;
    D3DMATRIX m = IdentityMatrix();
    m._11 = std::cos(r);
    m._13 = -std::sin(r);
    m._31 = std::sin(r);
    m._33 = std::cos(r);
    return m;
}

void ResetModelRotation() { ModelRotation = IdentityMatrix(); }

void TurnModel(bool leftHeld, bool rightHeld)
{
    if (leftHeld) {
        RotationAngle += kSteerStep;
        if (RotationAngle > 360.0f) RotationAngle -= 360.0f;
    }
    float angle = RotationAngle;
    if (rightHeld) {
        angle -= kSteerStep;
        if (angle < 0.0f) angle += 360.0f;
    }
    ModelRotation = scene::RotationAboutY(angle);
    // NOTE: the drift is applied after the matrix is built, so the matrix
    // always shows the angle from before this step's drift.
    RotationAngle = angle - kDrift;
    if (RotationAngle < 0.0f) RotationAngle += 360.0f;
}

int NextFlashAlpha(bool requested)
{
    int drawn = 0;
    if (requested) {
        FlashAlpha = 255;
        drawn = 255;
    } else if (FlashAlpha > 0) {
        drawn = FlashAlpha;
    }
    FlashAlpha -= kFlashDecay;
    if (FlashAlpha < 0) FlashAlpha = 0;
    return drawn;
}
