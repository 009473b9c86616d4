// The one mesh of the sixteen crystals: the bands and lids of all bodies in
// one vertex buffer and one index buffer, drawn with one indexed draw in
// which every vertex names its crystal's world matrix (indexed vertex
// blending, D3DTS_WORLDMATRIX(k) for crystal k).
//
// The layout is ring-major, so that what one step changes (the top rings
// while the crystals grow, the bottom rings while they dissolve) is one
// short byte range; the device sends only the range written since its last
// draw.
//   vertices: slot (ring r, crystal k) starts at vertex (r * 16 + k) * 31:
//             the band below ring r (24 corners), then the lid over it (7).
//   indices:  slot (r, k) starts at index (r * 16 + k) * 36: the band's two
//             triangles per face while the band shows, else 36 times the
//             slot's first vertex (an empty triangle). Right after the last
//             ring slot the draw covers come the sixteen lids, 18 indices
//             each (empty for a crystal without a lid).
// The draw covers the ring slots from the lowest shown band to the highest
// over all crystals: crystals that grow in step cost nothing extra, and one
// that shows less than the others costs some empty triangles.
//
// Everything runs on the thread that owns the device.
#pragma once

#include "crystal/CrystalBody.h"
#include "platform/DeviceRef.h"
#include "platform/d3d9.h"

class ClusterMesh {
public:
    static constexpr int Bodies = 16;
    static constexpr int Rings = CrystalBody::RingCapacity;
    static constexpr int SlotVertices = CrystalRing::BandVertices + CrystalRing::LidVertices;
    static constexpr int SlotIndices = CrystalRing::BandIndices;
    static constexpr int LidBlockIndices = Bodies * CrystalRing::LidIndices;
    static_assert(LidBlockIndices <= Bodies * SlotIndices, "the lids fit in the ring slot after the drawn ones");

    // Writes what changed since the last call: the rings each body marks
    // stale, the indices of bands that came or went, and the lids. A null
    // body shows nothing. False when the buffers cannot be made.
    bool Update(IDirect3DDevice9* device, CrystalBody* const bodies[Bodies]);
    // One indexed draw of everything shown (nothing when nothing shows).
    void Draw(IDirect3DDevice9* device) const;

    // The ring slots the draw covers: [LowRing(), HighRing()).
    int LowRing() const { return low_; }
    int HighRing() const { return high_; }

private:
    // What the index buffer holds for one crystal: bands [first, end), the lid's ring or -1.
    struct Shown {
        int first = 0;
        int end = 0;
        int lid = -1;
        bool Has(int ring) const { return ring >= first && ring < end; }
        int Lowest() const { return end > first ? first : Rings; }
    };

    bool Prepare(IDirect3DDevice9* device, CrystalBody* const bodies[Bodies]);
    void WriteStaleRings(CrystalBody* const bodies[Bodies]);
    // Ring slots [initialised_, end) get empty triangles for every crystal.
    void InitialiseSlots(int end);
    // Slot (ring, crystal) gets the band's triangles or empty ones.
    void WriteSlot(int ring, int crystal, bool band);
    void WriteLids(const Shown (&shown)[Bodies], int high);

    static UINT SlotVertex(int ring, int crystal) { return static_cast<UINT>((ring * Bodies + crystal) * SlotVertices); }
    static UINT SlotIndex(int ring, int crystal) { return static_cast<UINT>((ring * Bodies + crystal) * SlotIndices); }

    DeviceRef<IDirect3DVertexBuffer9> vertices_;
    DeviceRef<IDirect3DIndexBuffer9> indices_;
    Shown written_[Bodies];
    int low_ = 0;
    int high_ = 0;
    int initialised_ = 0;  // ring slots whose indices have been written at least once
    int lidsAt_ = -1;      // the ring slot whose first indices the lid block covers
};
