// The pool of light sparks thrown by the dissolving crystals: 40 960 slots
// allocated once, each spark drifting away from the screen centre while it
// shrinks and fades, drawn as an additively blended textured square.
//
// The live sparks are also listed densely in slot order, so stepping,
// counting and drawing touch only them; a bit per slot finds the lowest free
// slot. They are drawn as point sprites: one 20-byte vertex per spark
// (centre, side, colour) written into one dynamic vertex buffer per frame,
// and two draws (the spark in slot 0 has a glow of its own).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/NonCopyable.h"
#include "platform/d3d9/DeviceRef.h"
#include "platform/d3d9/d3d9.h"
#include "scenery/Matrix4.h"
#include "scenery/TextureHolder.h"

// The seven values of a spark, in slot order.
struct SparkRecord {
    float x = 0.0f;      // centre, pixels from the left
    float y = 0.0f;      // centre, pixels from the top
    float size = 0.0f;   // half the side at full life
    std::int32_t life = 0;      // steps left; < 1 is a free slot
    std::int32_t lifespan = 0;  // life at birth; -1: never ages, always full
    float dx = 0.0f;     // each step moves the spark by (-dx, -dy)
    float dy = 0.0f;
};

// One slot of the pool holds the record of the spark emitted into it.
using LightParticle = SparkRecord;

// One spark as the device draws it: a point sprite, the square of side
// `size` pixels centred on (x, y), its texture spread over it. The position
// is in screen pixels; DrawParticles sets transforms that leave it there.
// NOTE: pre-transformed vertices would need a fourth float; 20 bytes a spark
// keep a frame of 40 960 sparks under 1 MB of vertices.
struct SparkVertex {
    float x, y, z;
    float size;  // the whole side, in pixels
    D3DCOLOR diffuse;
};
static_assert(sizeof(SparkVertex) == 20, "spark vertices are 20 bytes");
constexpr DWORD SparkVertexFormat = D3DFVF_XYZ | D3DFVF_PSIZE | D3DFVF_DIFFUSE;

class LightSet : NonCopyable {
public:
    static constexpr int Capacity = 40960;

    LightSet();
    ~LightSet();

    // Allocates the pool and its vertex buffer and loads light1.bmp and
    // light2.bmp from dataDir.
    bool Create(IDirect3DDevice9* device, const std::string& dataDir);
    // Stores a spark in the lowest free slot; false (dropped) when all are busy.
    bool Emit(const SparkRecord& spark);
    // Ages and moves every live spark by one step.
    void UpdateParticles(IDirect3DDevice9* device, const Matrix4& matrix);
    // Draws every live spark; slot 0 with the first texture, the rest with the second.
    void DrawParticles(IDirect3DDevice9* device, const Matrix4& matrix);
    // The state sparks are drawn in: the glow added to what is there, over
    // everything and leaving no depth, unlit and without fog.
    static void UseSparkState(IDirect3DDevice9* device);

    const LightParticle& Particle(int slot) const { return particles[slot]; }
    int LiveCount() const { return static_cast<int>(live_.size()); }

    // Where, how large and how bright a spark is drawn.
    static SparkVertex Vertex(const LightParticle& particle);

    std::unique_ptr<LightParticle[]> particles;
    TextureHolder firstTexture;
    TextureHolder secondTexture;

private:
    // Writes the live sparks' vertices, in slot order; false if the buffer cannot be written.
    bool FillVertices();
    // Draws the vertices written, screen pixels in, screen pixels out.
    void DrawPoints(IDirect3DDevice9* device);
    void SetBusy(int slot, bool busy);

    std::vector<std::int32_t> live_;   // slots of the live sparks, ascending
    std::vector<std::uint64_t> busy_;  // one bit per slot: holds a live spark
    int firstFreeWordHint_ = 0;        // every word below it is full
    DeviceRef<IDirect3DVertexBuffer9> vertices_;  // Capacity spark vertices, rewritten every frame
};
