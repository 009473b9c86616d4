// Orientation quaternions of the scene nodes. Nothing normalises them: a node
// that turns for hours drifts by the rounding of its products, as intended.
#pragma once

#include "scenery/Matrix4.h"
#include "scenery/Vector3.h"

struct Quaternion {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    float w = 1.0f;
};

Quaternion QuaternionIdentity();
// The axis is used as given, not normalised.
Quaternion QuaternionFromAxisAngle(const Vector3& axis, float radians);
// r (x) q, the Hamilton product: applying the result turns by q, then by r.
Quaternion QuaternionMultiply(const Quaternion& r, const Quaternion& q);
// The matrix that turns a column vector by q (see RotateVector); it is the
// transpose of the usual row-vector rotation matrix of q.
Matrix4 QuaternionToMatrix(const Quaternion& q);
