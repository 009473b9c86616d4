// The shape of one crystal: its block of 1024 rings, the counters that say
// which rings are built, shown and already dissolved, and its placement in
// the scene. It grows by appended rings, reveals them, dissolves them from
// the bottom into light sparks, and draws the shown range.
//
// The bands live in a vertex buffer of the device, 24 corners per ring at
// the ring's index, written when a ring is built or bent (at most the top
// two rings per step) and drawn from there with one indexed draw; the
// device makes the sphere-map coordinates from the normals.
#pragma once

#include <cstdint>
#include <memory>

#include "crystal/CrystalRing.h"
#include "scenery/SceneNode.h"

class World;

class CrystalBody : public SceneNode {
public:
    static constexpr int RingCapacity = 1024;

    CrystalBody() = default;
    ~CrystalBody() override = default;

    // Takes no part in the scene step: Animate places the body.
    void Update(IDirect3DDevice9*, const Matrix4&) override {}

    // Allocates the ring block and plants the seed.
    bool Create(World* worldLink);
    // Counters back to a lone seed ring of `radius`; returns the built count (1).
    int ResetShape(float radius);
    // Appends a ring `step` along the top ring's axis, leaning `tilt` degrees
    // towards the side `turn` degrees round from the top ring's first corner.
    bool GrowStep(float step, float tilt, float turn, float radius, int tag, int peak);
    // Appends a ring whose centre is the top ring's centre plus `offset`.
    bool AppendRing(const float offset[4], float radius, int tag, int peak);
    // Places the body (M x T x R) and advances the growing (factor > 0) or
    // dissolving (factor < 0) counter; false once that animation is over.
    bool Animate(IDirect3DDevice9* device, const Matrix4& matrix, std::int32_t factor);
    // Places the body (worldMatrix := M x T x R) without telling the device.
    const Matrix4& Place(const Matrix4& matrix);

    // The shown bands are those of rings [FirstBand(), shownRings): ring 0 has none.
    int FirstBand() const { return consumedRings < 1 ? 1 : consumedRings; }
    // The ring that carries the lid, or -1 while no lid shows (fewer than
    // three rings shown, or dissolving).
    int LidRing() const { return shownRings - 1 > 1 && capVisible ? shownRings - 1 : -1; }

    const CrystalRing& Ring(int index) const { return rings[index]; }
    CrystalRing& Ring(int index) { return rings[index]; }

    World* world = nullptr;
    std::unique_ptr<CrystalRing[]> rings;
    std::int32_t builtRings = 0;
    std::int32_t targetRings = 0;
    std::int32_t consumedRings = 0;
    std::int32_t shownRings = 0;
    bool capVisible = false;
    Matrix4 worldMatrix = MatrixIdentity();

    // Rings from this index on changed since the mesh last wrote them.
    int StaleFrom() const { return staleFrom_; }
    void MarkWritten() { staleFrom_ = builtRings; }
    // After the mesh lost what it held (new buffers): every ring is stale.
    void MarkAllStale() { staleFrom_ = 0; }

private:
    void PlaceInWorld(IDirect3DDevice9* device, const Matrix4& matrix);
    void EmitSparks(IDirect3DDevice9* device, const Vector3& centre);

    int staleFrom_ = 0;
};
