// Vector operations of the 3D toolkit, in 32-bit floats.
#include "scenery/Vector3.h"

Vector3 MakeVector(float x, float y, float z)
{
    Vector3 v;
    v.x = x;
    v.y = y;
    v.z = z;
    return v;
}

Vector3 RotateVector(const Vector3& v, const Matrix4& m)
{
    return MakeVector(m._11 * v.x + m._12 * v.y + m._13 * v.z,
                      m._21 * v.x + m._22 * v.y + m._23 * v.z,
                      m._31 * v.x + m._32 * v.y + m._33 * v.z);
}

float Dot(const Vector3& a, const Vector3& b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

Vector3 Cross(const Vector3& a, const Vector3& b)
{
    return MakeVector(a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x);
}
