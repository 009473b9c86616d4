// The back end of the OpenGL device: owns the GL objects (back buffer,
// programs, the rotating batch buffers, the vertex array of buffer draws,
// the GPU copies of textures and buffers) and issues the GPU work that
// GlDeviceBackEnd hands it. A draw's key becomes GL state through the state
// cache, so only what changed since the last draw is sent to the driver.
//
// Threading: only on the thread that owns the GL context; GlDeviceBackEnd
// makes the context current before every call, and before destroying it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "common/NonCopyable.h"
#include "platform/d3d9/DeviceBackEnd.h"
#include "platform/d3d9/DeviceState.h"
#include "platform/gl/GlDrawKey.h"
#include "platform/gl/GlProgramCache.h"
#include "platform/gl/GlStateCache.h"
#include "platform/d3d9/MemoryBuffer.h"
#include "platform/d3d9/MemoryTexture.h"

class GlBackend : NonCopyable {
public:
    // `textureOwner` and `bufferOwner` are what textures and buffers with a
    // GPU copy report their death to (GlDeviceBackEnd, which passes it on).
    // Counts go to `stats`: GPU draws, vertices, uploads, texture binds and
    // state calls. `skipUnchangedState` off re-issues every state call of a
    // draw whose key differs (for comparison in benchmarks).
    GlBackend(GpuTextureCache& textureOwner, GpuBufferCache& bufferOwner, DeviceFrameStats& stats,
              bool skipUnchangedState);
    ~GlBackend();

    bool Init(UINT width, UINT height, bool gles);
    UINT Width() const { return width_; }
    UINT Height() const { return height_; }
    // A new back buffer when the size changed; the GL state is re-learnt.
    bool Reset(UINT width, UINT height);

    // Clears the viewport, or the given rectangles inside it.
    void Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR colour, float z,
               const D3DVIEWPORT9& viewport);
    // Copies the back buffer to the window's drawable, scaled with its
    // aspect kept; the caller swaps, then calls AfterSwap.
    void Blit(int drawableWidth, int drawableHeight);
    void AfterSwap();
    bool ReadBack(std::vector<std::uint8_t>& rgb, UINT& width, UINT& height);

    // One GPU draw of batched vertices (a list of the key's primitive class).
    void DrawBatch(const DrawKey& key, const GpuVertex* vertices, std::size_t count);

    // A draw from the bound vertex (and index) buffers.
    void DrawBuffers(const DrawKey& key, const VertexLayout& layout, const DeviceDraw& draw);

    // From now on the texture reports its death to the texture owner, and
    // this back end clears its link when it goes first.
    void Adopt(MemoryTexture* texture);
    // A texture or buffer about to die: its GPU copy goes.
    void DropTexture(MemoryTexture* texture);
    void DropBuffer(BufferBytes* buffer);

private:
    static constexpr int kVertexBuffers = 4;  // rotated so the GPU never waits on the one it reads
    static constexpr GLint kPointGuardBand = 128;  // pixels: half the largest point Mesa draws

    bool BuildBackBuffer(UINT width, UINT height);
    void DeleteBackBuffer();
    void ApplyForDraw(const DrawKey& key);
    void ApplyKey(const DrawKey& key);
    // The sixteen world-view matrices of indexed vertex blending.
    void ApplyBlendMatrices(const DrawKey& key, const D3DMATRIX& firstWorldView);
    void UseProgramFor(const DrawKey& key);
    void BindTexture(const DrawKey& key);
    void Upload(MemoryTexture* texture);
    // Brings the GPU copy of a buffer up to date: only the bytes written since.
    void Sync(BufferBytes* buffer, GLenum target);
    // Stream 0 from `firstVertex` on (with each point's size when `pointSizes`), and the instance stream.
    void BindStreams(const VertexLayout& layout, const StateKeepingDevice::Stream* streams, UINT firstVertex,
                     bool instanced, bool pointSizes);
    void CountStateCalls() { stats_.stateCalls += state_.TakeCalls(); }
    // A D3DCOLOR as red, green, blue and alpha from 0 to 1.
    static void ColourValue(D3DCOLOR c, float out[4]);

    GpuTextureCache& textureOwner_;
    GpuBufferCache& bufferOwner_;
    DeviceFrameStats& stats_;
    GlStateCache state_;
    GlProgramCache programs_;
    const GlProgram* program_ = nullptr;  // in use
    std::string switches_;                // its define lines
    UINT width_ = 640;
    UINT height_ = 480;

    GLuint framebuffer_ = 0;
    GLuint colourBuffer_ = 0;
    GLuint depthBuffer_ = 0;
    GLuint vertexArrays_[kVertexBuffers] = {};
    GLuint vertexBuffers_[kVertexBuffers] = {};
    std::size_t bufferCapacity_[kVertexBuffers] = {};
    int nextBuffer_ = 0;
    GLuint streamArray_ = 0;  // the vertex array of draws from buffers
    std::unordered_set<MemoryTexture*> textures_;
    std::unordered_set<BufferBytes*> buffers_;

    // The key the GL state was last brought to; false after anything that
    // may have changed state the key governs (clear, present, reset).
    DrawKey appliedKey_{};
    bool appliedValid_ = false;
};
