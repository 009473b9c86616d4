// Moves and turns of a scene node in its own axes.
#include "scenery/SceneNode.h"

void SceneNode::Move(float dx, float dy, float dz)
{
    const Matrix4 rotation = QuaternionToMatrix(orientation);
    position = position + RotateVector(MakeVector(dx, dy, dz), rotation);
}

void SceneNode::Turn(bool aboutHorizontal, float degrees)
{
    previousOrientation = orientation;
    const Vector3 local = aboutHorizontal ? MakeVector(1.0f, 0.0f, 0.0f) : MakeVector(0.0f, 1.0f, 0.0f);
    const Vector3 axis = RotateVector(local, QuaternionToMatrix(orientation));
    const Quaternion turn = QuaternionFromAxisAngle(axis, degrees * DegreesToRadians);
    orientation = QuaternionMultiply(turn, orientation);
}
