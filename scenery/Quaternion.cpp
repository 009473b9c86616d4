// Quaternion operations of the 3D toolkit, in 32-bit floats.
#include "scenery/Quaternion.h"

#include <cmath>

Quaternion QuaternionIdentity()
{
    return Quaternion{0.0f, 0.0f, 0.0f, 1.0f};
}

Quaternion QuaternionFromAxisAngle(const Vector3& axis, float radians)
{
    const float half = radians * 0.5f;
    const float s = std::sin(half);
    return Quaternion{s * axis.x, s * axis.y, s * axis.z, std::cos(half)};
}

Quaternion QuaternionMultiply(const Quaternion& r, const Quaternion& q)
{
    return Quaternion{r.w * q.x + r.x * q.w + r.y * q.z - r.z * q.y,
                      r.w * q.y - r.x * q.z + r.y * q.w + r.z * q.x,
                      r.w * q.z + r.x * q.y - r.y * q.x + r.z * q.w,
                      r.w * q.w - r.x * q.x - r.y * q.y - r.z * q.z};
}

Matrix4 QuaternionToMatrix(const Quaternion& q)
{
    Matrix4 m = MatrixIdentity();
    m._11 = 1.0f - 2.0f * (q.y * q.y + q.z * q.z);
    m._12 = 2.0f * (q.x * q.y - q.z * q.w);
    m._13 = 2.0f * (q.x * q.z + q.y * q.w);
    m._21 = 2.0f * (q.x * q.y + q.z * q.w);
    m._22 = 1.0f - 2.0f * (q.x * q.x + q.z * q.z);
    m._23 = 2.0f * (q.y * q.z - q.x * q.w);
    m._31 = 2.0f * (q.x * q.z - q.y * q.w);
    m._32 = 2.0f * (q.y * q.z + q.x * q.w);
    m._33 = 1.0f - 2.0f * (q.x * q.x + q.y * q.y);
    return m;
}
