// 4x4 matrices in Direct3D's layout (rows _11.._44, translation in _41.._43)
// and the few operations the scene node and the crystals need.
//
// Points are row vectors (p * A * B); RotateVector in Vector3.h is the one
// operation that applies a matrix to a column instead.
#pragma once

#include "platform/d3d9/Matrices.h"
#include "platform/d3d9/d3d9.h"

using Matrix4 = D3DMATRIX;

Matrix4 MatrixIdentity();
Matrix4 MatrixZero();
void MatrixCopy(Matrix4& out, const Matrix4& source);
// The product is MultiplyMatrices (platform/d3d9/Matrices.h).
// Inverse of an affine matrix (upper 3x3 plus a translation row). A singular
// 3x3 gives the zero 3x3 rather than infinities.
Matrix4 MatrixInverseAffine(const Matrix4& m);
