// The vector record of the scene node and the crystal geometry: x, y, z and
// five trailing floats that every operation keeps at 0 (the ring vertex
// record reuses that room for a normal, so the layout matters).
#pragma once

#include "scenery/Matrix4.h"

struct Vector3 {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    float unused[5] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
};
static_assert(sizeof(Vector3) == 32, "a vector record is eight floats");

Vector3 MakeVector(float x, float y, float z);
// The upper 3x3 of m applied to v as a column: (_11 x + _12 y + _13 z, ...).
Vector3 RotateVector(const Vector3& v, const Matrix4& m);
float Dot(const Vector3& a, const Vector3& b);
Vector3 Cross(const Vector3& a, const Vector3& b);

inline Vector3 operator+(const Vector3& a, const Vector3& b) { return MakeVector(a.x + b.x, a.y + b.y, a.z + b.z); }
inline Vector3 operator-(const Vector3& a, const Vector3& b) { return MakeVector(a.x - b.x, a.y - b.y, a.z - b.z); }
inline Vector3 operator*(float s, const Vector3& v) { return MakeVector(s * v.x, s * v.y, s * v.z); }
