// The pool of light sparks thrown by the dissolving crystals: 40 960 slots
// allocated once, each spark drifting away from the screen centre while it
// shrinks and fades, drawn as an additively blended textured square.
//
// The live sparks are also listed densely in slot order, so stepping,
// counting and drawing touch only them; a bit per slot finds the lowest free
// slot.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/d3d9.h"
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

// One slot of the pool.
struct LightParticle {
    float x = 0.0f;
    float y = 0.0f;
    float size = 0.0f;
    std::int32_t life = 0;
    std::int32_t lifespan = 0;
    float dx = 0.0f;
    float dy = 0.0f;
};

// Pre-transformed, coloured, textured vertex of the spark square.
struct ParticleVertex {
    float x, y, z, rhw;
    D3DCOLOR diffuse;
    float u, v;
};
static_assert(sizeof(ParticleVertex) == 28, "spark vertices are 28 bytes");
constexpr DWORD ParticleVertexFormat = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;

class LightSet {
public:
    static constexpr int Capacity = 40960;

    LightSet();
    LightSet(const LightSet&) = delete;
    LightSet& operator=(const LightSet&) = delete;
    virtual ~LightSet();

    // Allocates the pool and loads light1.bmp and light2.bmp from dataDir.
    bool Create(IDirect3DDevice9* device, const std::string& dataDir);
    // Stores a spark in the lowest free slot; false (dropped) when all are busy.
    bool Emit(const SparkRecord& spark);
    // Ages and moves every live spark by one step.
    void UpdateParticles(IDirect3DDevice9* device, const Matrix4& matrix);
    // Draws every live spark; slot 0 with the first texture, the rest with the second.
    void DrawParticles(IDirect3DDevice9* device, const Matrix4& matrix);

    const LightParticle& Particle(int slot) const { return particles[slot]; }
    int LiveCount() const { return static_cast<int>(live_.size()); }

    // The unit square every spark is drawn from: corners at -1 and 1, with
    // the texture's corners; a spark scales it by its half side and moves it.
    ParticleVertex quad[4];
    std::unique_ptr<LightParticle[]> particles;
    TextureHolder firstTexture;
    TextureHolder secondTexture;

private:
    // Where, how large and how bright a spark is drawn.
    static InstanceRecord Instance(const LightParticle& particle);
    void DrawParticle(IDirect3DDevice9* device, const LightParticle& particle);
    void FillQuad();
    bool IsBusy(int slot) const { return (busy_[slot / 64] >> (slot % 64)) & 1u; }
    void SetBusy(int slot, bool busy);

    std::vector<std::int32_t> live_;   // slots of the live sparks, ascending
    std::vector<std::uint64_t> busy_;  // one bit per slot: holds a live spark
    int firstFreeWordHint_ = 0;        // every word below it is full
};
