// Primitive expansion: what a draw of Direct3D 9 primitives becomes as a
// list of points, lines or triangles, the one form a batch holds.
#pragma once

#include "platform/d3d9/DeviceState.h"
#include "platform/gl/GlDrawKey.h"

inline PrimitiveClass ClassOf(D3DPRIMITIVETYPE type)
{
    switch (type) {
    case D3DPT_POINTLIST: return kPoints;
    case D3DPT_LINELIST:
    case D3DPT_LINESTRIP: return kLines;
    default: return kTriangles;
    }
}

// Positions of the vertices of a list that draws the same primitives.
template <typename Emit>
void ExpandToList(D3DPRIMITIVETYPE type, UINT primitiveCount, Emit emit)
{
    switch (type) {
    case D3DPT_POINTLIST:
    case D3DPT_LINELIST:
    case D3DPT_TRIANGLELIST:
        for (UINT i = 0; i < VerticesForPrimitives(type, primitiveCount); ++i) emit(i);
        break;
    case D3DPT_LINESTRIP:
        for (UINT i = 0; i < primitiveCount; ++i) {
            emit(i);
            emit(i + 1);
        }
        break;
    case D3DPT_TRIANGLESTRIP:
        // Every other triangle of a strip is wound the other way round.
        for (UINT i = 0; i < primitiveCount; ++i) {
            if (i % 2 == 0) {
                emit(i);
                emit(i + 1);
            } else {
                emit(i + 1);
                emit(i);
            }
            emit(i + 2);
        }
        break;
    case D3DPT_TRIANGLEFAN:
        for (UINT i = 0; i < primitiveCount; ++i) {
            emit(0);
            emit(i + 1);
            emit(i + 2);
        }
        break;
    }
}

inline UINT ListLength(D3DPRIMITIVETYPE type, UINT primitiveCount)
{
    switch (type) {
    case D3DPT_POINTLIST: return primitiveCount;
    case D3DPT_LINELIST:
    case D3DPT_LINESTRIP: return primitiveCount * 2;
    default: return primitiveCount * 3;
    }
}
