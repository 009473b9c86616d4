// The one mesh of the sixteen crystals: the bands and lids of all bodies in
// one vertex buffer and one index buffer, drawn with one indexed draw in
// which every vertex names its crystal's world matrix (indexed vertex
// blending, D3DTS_WORLDMATRIX(k) for crystal k).
//
// The layout goes by rows of eight rings: row n holds rings 8n ... 8n + 7 of
// crystal 0, then the same rings of crystal 1, and so on. What one step
// changes (the top rings while the crystals grow, the bottom rings while
// they dissolve) then lies in one row or two, a short byte range (the
// device sends only the range written since its last draw), while the
// triangles of one crystal still come in runs that lie together on the
// screen, which the software rasteriser works through faster than
// triangles that jump from crystal to crystal.
//   vertices: each slot (ring r, crystal k) holds the band below ring r (24
//             corners), then the lid over it (7).
//   indices:  each slot holds the band's two triangles per face while the
//             band shows, else 36 times the slot's first vertex (an empty
//             triangle). Right after the last row the draw covers come the
//             sixteen lids, 18 indices each (empty for a crystal without one).
// The draw covers the rows from the lowest shown band to the highest over
// all crystals: crystals that grow in step cost little extra, and one that
// shows less than the others costs some empty triangles.
//
// Everything runs on the thread that owns the device.
#pragma once

#include "crystal/CrystalBody.h"
#include "platform/d3d9/DeviceRef.h"
#include "platform/d3d9/d3d9.h"

class ClusterMesh {
public:
    static constexpr int Bodies = 16;
    static constexpr int Rings = CrystalBody::RingCapacity;
    static constexpr int SlotVertices = CrystalRing::BandVertices + CrystalRing::LidVertices;
    static constexpr int SlotIndices = CrystalRing::BandIndices;
    static constexpr int LidBlockIndices = Bodies * CrystalRing::LidIndices;
    static constexpr int RowRings = 8;
    static constexpr int Rows = Rings / RowRings;
    static constexpr int RowSlots = RowRings * Bodies;
    static_assert(Rings % RowRings == 0, "whole rows");
    static_assert(LidBlockIndices % SlotIndices == 0 && LidBlockIndices <= RowSlots * SlotIndices,
                  "the lids fill whole slots of the row after the drawn ones");

    // Writes what changed since the last call: the rings each body marks
    // stale, the indices of bands that came or went, and the lids. A null
    // body shows nothing. False when the buffers cannot be made.
    bool Update(IDirect3DDevice9* device, CrystalBody* const bodies[Bodies]);
    // One indexed draw of everything shown (nothing when nothing shows).
    void Draw(IDirect3DDevice9* device) const;


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
    // Rows [initialisedRows_, end) get empty triangles in every slot.
    void InitialiseRows(int end);
    // Slot (ring, crystal) gets the band's triangles or empty ones.
    void WriteSlot(int ring, int crystal, bool band);
    void WriteLids(const Shown (&shown)[Bodies], int row);

    static UINT Slot(int ring, int crystal)
    {
        return static_cast<UINT>((ring / RowRings * Bodies + crystal) * RowRings + ring % RowRings);
    }
    static UINT SlotVertex(int ring, int crystal) { return Slot(ring, crystal) * SlotVertices; }
    static UINT SlotIndex(int ring, int crystal) { return Slot(ring, crystal) * SlotIndices; }
    static UINT RowVertex(int row) { return static_cast<UINT>(row * RowSlots * SlotVertices); }
    static UINT RowIndex(int row) { return static_cast<UINT>(row * RowSlots * SlotIndices); }
    static int RowAbove(int ring) { return (ring + RowRings - 1) / RowRings; }

    DeviceRef<IDirect3DVertexBuffer9> vertices_;
    DeviceRef<IDirect3DIndexBuffer9> indices_;
    Shown written_[Bodies];
    int lowRow_ = 0;
    int highRow_ = 0;
    int initialisedRows_ = 0;  // rows whose indices have been written at least once
    int lidsAt_ = -1;          // the row whose first slots the lid block covers
};
