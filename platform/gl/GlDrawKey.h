// What the OpenGL device's batching (GlDeviceBackEnd) hands GlBackend for
// every GPU draw: the packed drawing state of a batch or buffer draw, and
// the one vertex layout that batched immediate draws are converted into.
//
// The batching rebuilds a key only after a Set* call changed something and
// compares keys to decide where a batch ends; GlBackend turns a key into GL
// state, issuing only the calls whose values differ from what is in force.
#pragma once

#include <cstdint>
#include <cstring>

#include "platform/d3d9/DeviceState.h"
#include "platform/d3d9/d3d9.h"

class MemoryTexture;

// The one vertex layout the shader reads from batches.
struct GpuVertex {
    float position[4];
    float normal[3];
    std::uint32_t diffuse;  // D3DCOLOR as stored: bytes B, G, R, A
    std::uint32_t specular;
    float texCoord[2];
};
static_assert(sizeof(GpuVertex) == 44, "tightly packed vertex");

enum PrimitiveClass : std::uint32_t { kTriangles = 0, kLines = 1, kPoints = 2 };

// Everything that decides how a draw is made. Compared with memcmp, so it
// is always zero-filled before it is written.
struct DrawKey {
    std::uint32_t primitiveClass;
    std::uint32_t pretransformed, hasNormal, hasDiffuse, hasSpecular, hasTexCoord;
    std::uint32_t zEnable, zWrite, zFunc, cullMode;
    std::uint32_t blendEnable, srcBlend, destBlend, blendOp;
    std::uint32_t alphaTest, alphaRef, alphaFunc, colourWrite;
    std::uint32_t lighting, ambient, colourVertex, diffuseSource, ambientSource, specularSource, emissiveSource;
    std::uint32_t specularEnable, normalizeNormals, localViewer;
    std::uint32_t fogOn, fogMode, fogColour, fogStart, fogEnd;
    std::uint32_t textureFactor;
    std::uint32_t instanced, texGen, texTransform;
    std::uint32_t pointSprite, hasPointSize, pointSize, pointSizeMin;  // sizes as float bits
    // Indexed vertex blending: 0 off, 1 with rigid world-view matrices
    // (normals turn with them), 2 with any affine ones.
    std::uint32_t blendByIndex;
    std::uint32_t colourOp, colourArg1, colourArg2, alphaOp, alphaArg1, alphaArg2;
    std::uint32_t addressU, addressV, minFilter, magFilter, mipFilter;
    std::int32_t lightIndex;
    MemoryTexture* texture;
    std::uint64_t textureVersion;
    D3DMATRIX world, view, projection, textureMatrix;
    D3DMATRIX moreWorlds[DeviceState::kWorldMatrices - 1];  // D3DTS_WORLDMATRIX(1 ...), while blending
    D3DVIEWPORT9 viewport;
    D3DMATERIAL9 material;
    D3DLIGHT9 light;
};

inline bool SameKey(const DrawKey& a, const DrawKey& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The key of a draw of this primitive class under the state and the vertex
// layout in force (a pure function of them).
void BuildDrawKey(DrawKey& key, const DeviceState& state, const VertexLayout& layout, PrimitiveClass primitiveClass,
                  bool instanced, bool fromBuffers);
// How points are drawn: their side (from each vertex only in draws from
// buffers), its lower limit, and whether they are textured squares.
void SetPointFields(DrawKey& key, const DeviceState& state, const VertexLayout& layout, bool fromBuffers);
