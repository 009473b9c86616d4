// One hexagonal cross-section of a crystal, and the drawing of the band
// between a ring and the ring below it and of the lid on the top ring.
//
// Rings are plain data kept in a fixed block of 1024 per crystal body. Every
// face is flat: its four corners carry the face's normal, from which the
// device makes one sphere-map sample per face, so the facets flash one by one
// as the crystal turns.
#pragma once

#include <cstdint>

#include "common/NonCopyable.h"
#include "platform/d3d9/d3d9.h"
#include "scenery/Matrix4.h"
#include "scenery/Vector3.h"

// A rim corner: position, then the unit normal towards the ring centre.
struct RingVertex {
    float position[3] = {0.0f, 0.0f, 0.0f};
    float normal[3] = {0.0f, 0.0f, 0.0f};

    Vector3 Position() const { return MakeVector(position[0], position[1], position[2]); }
    Vector3 Normal() const { return MakeVector(normal[0], normal[1], normal[2]); }
    void SetPosition(const Vector3& v);
    void SetNormal(const Vector3& v);
};

// The vertex the crystals are drawn with: position, the index of the
// crystal's world matrix (indexed vertex blending, so that all sixteen go in
// one draw), normal and diffuse colour. The device makes the texture
// coordinates from the normal.
struct CrystalVertex {
    float x, y, z;
    DWORD matrixIndices;  // byte 0 names the world matrix
    float nx, ny, nz;
    D3DCOLOR diffuse;
};
static_assert(sizeof(CrystalVertex) == 32, "crystal vertices are 32 bytes");
constexpr DWORD CrystalVertexFormat = D3DFVF_XYZB1 | D3DFVF_LASTBETA_UBYTE4 | D3DFVF_NORMAL | D3DFVF_DIFFUSE;

// Divides x, y, z by the length; a zero vector stays as it is (false).
bool Normalise(Vector3& v);
// The rotation by `radians` about `axis` (normalised here unless zero), for
// use as a column-vector matrix with RotateVector.
Matrix4 AxisAngleMatrix(const Vector3& axis, float radians);

class CrystalRing : NonCopyable {
public:
    CrystalRing() = default;

    // The seed: a flat hexagon of `radius` about `centre`, axis up, no ring below.
    void BuildRing(Vector3 centre, float radius);
    // A ring of `radius` about `centre` that carries the previous ring's
    // cross-section along the bend, and turns the previous ring to follow it.
    bool BuildFromPrevious(Vector3 centre, float radius, CrystalRing* previousRing, int tag, int peak);

    // Corners of one band face (top i, top i+1, bottom i+1, bottom i) and
    // indices of its two triangles, as a fan of the four corners would draw them.
    static constexpr int BandVertices = 24;
    static constexpr int BandIndices = 36;
    // The lid: the centre, then the six rim corners; drawn as the fan
    // (centre, corner i, corner i + 1).
    static constexpr int LidVertices = 7;
    static constexpr int LidIndices = 18;
    // The six faces between this ring and the one below, four corners each,
    // under world matrix `matrix`; false (nothing written) without a ring below.
    bool WriteBand(CrystalVertex out[BandVertices], DWORD matrix) const;
    // The flat lid over this ring, under world matrix `matrix`.
    void WriteLid(CrystalVertex out[LidVertices], DWORD matrix) const;

    std::int32_t bandTag = 0;     // the band table's tag of the step that built the ring
    std::int32_t peakSample = 0;  // the block's peak sample when the ring was built
    CrystalRing* previous = nullptr;
    float radius = 0.0f;
    Vector3 centre;
    Vector3 sideAxis;
    Vector3 axis;
    RingVertex rim[6];
};
