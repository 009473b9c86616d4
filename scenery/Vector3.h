// The vector of the scene node and the crystal geometry.
#pragma once

#include "scenery/Matrix4.h"

struct Vector3 {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
};

Vector3 MakeVector(float x, float y, float z);
// The upper 3x3 of m applied to v as a column: (_11 x + _12 y + _13 z, ...).
Vector3 RotateVector(const Vector3& v, const Matrix4& m);
float Dot(const Vector3& a, const Vector3& b);
Vector3 Cross(const Vector3& a, const Vector3& b);

inline Vector3 operator+(const Vector3& a, const Vector3& b) { return MakeVector(a.x + b.x, a.y + b.y, a.z + b.z); }
inline Vector3 operator-(const Vector3& a, const Vector3& b) { return MakeVector(a.x - b.x, a.y - b.y, a.z - b.z); }
inline Vector3 operator*(float s, const Vector3& v) { return MakeVector(s * v.x, s * v.y, s * v.z); }
