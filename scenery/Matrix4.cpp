// Matrix operations of the 3D toolkit, all in 32-bit floats.
#include "scenery/Matrix4.h"

#include "platform/d3d9/Matrices.h"

Matrix4 MatrixZero()
{
    Matrix4 m;
    for (auto& row : m.m)
        for (float& value : row) value = 0.0f;
    return m;
}

Matrix4 MatrixIdentity() { return IdentityMatrix(); }

void MatrixCopy(Matrix4& out, const Matrix4& source)
{
    out = source;
}

Matrix4 MatrixInverseAffine(const Matrix4& m)
{
    // Adjugate of the upper 3x3 (the transposed cofactors).
    const float c11 = m._22 * m._33 - m._23 * m._32;
    const float c12 = m._23 * m._31 - m._21 * m._33;
    const float c13 = m._21 * m._32 - m._22 * m._31;
    const float c21 = m._13 * m._32 - m._12 * m._33;
    const float c22 = m._11 * m._33 - m._13 * m._31;
    const float c23 = m._12 * m._31 - m._11 * m._32;
    const float c31 = m._12 * m._23 - m._13 * m._22;
    const float c32 = m._13 * m._21 - m._11 * m._23;
    const float c33 = m._11 * m._22 - m._12 * m._21;
    const float determinant = m._11 * c11 + m._12 * c12 + m._13 * c13;
    // NOTE: a singular matrix has no inverse; dividing would fill the result
    // with infinities that poison every later product, so it becomes zero.
    const float scale = determinant != 0.0f ? 1.0f / determinant : 0.0f;

    Matrix4 r = MatrixZero();
    r._11 = c11 * scale; r._12 = c21 * scale; r._13 = c31 * scale;
    r._21 = c12 * scale; r._22 = c22 * scale; r._23 = c32 * scale;
    r._31 = c13 * scale; r._32 = c23 * scale; r._33 = c33 * scale;

    const float tx = m._41, ty = m._42, tz = m._43;
    r._41 = -(tx * r._11 + ty * r._21 + tz * r._31);
    r._42 = -(tx * r._12 + ty * r._22 + tz * r._32);
    r._43 = -(tx * r._13 + ty * r._23 + tz * r._33);
    r._44 = 1.0f;
    return r;
}
