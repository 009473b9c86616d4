// The identity and the product of 4x4 matrices in Direct3D's layout (row
// vectors: a point p goes to p * A * B). Defined once, so that the device,
// D3DX and the scene all round a product the same way.
#pragma once

#include "platform/d3d9/d3d9.h"

D3DMATRIX IdentityMatrix();
// A x B: element (i, j) = A(i, 0) B(0, j) + A(i, 1) B(1, j) + A(i, 2) B(2, j) + A(i, 3) B(3, j),
// summed in that order.
D3DMATRIX MultiplyMatrices(const D3DMATRIX& a, const D3DMATRIX& b);
