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
#include "platform/DeviceRef.h"
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
    // Draws the shown rings with the current texture.
    void Draw(IDirect3DDevice9* device, const Matrix4& matrix);

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

    // Rings from this index on have bands the vertex buffer does not hold yet.
    int StaleFrom() const { return staleFrom_; }

private:
    bool PrepareBuffers(IDirect3DDevice9* device);
    void WriteStaleBands();
    void IndexRings(int count);

    void PlaceInWorld(IDirect3DDevice9* device, const Matrix4& matrix);
    void EmitSparks(IDirect3DDevice9* device, const Vector3& centre);

    DeviceRef<IDirect3DVertexBuffer9> bandVertices_;
    DeviceRef<IDirect3DIndexBuffer9> bandIndices_;
    int staleFrom_ = 0;
    int indexedRings_ = 0;  // rings whose indices the index buffer holds
};
