// The real graphics backend: the Direct3D 9 style device on OpenGL 3.3 core
// (through libepoxy), drawing into a 640x480 offscreen back buffer with a
// 16-bit depth buffer, presented scaled to the window with its aspect kept.
//
// Immediate draws are batched: DrawPrimitiveUP appends its vertices (fans
// and strips become triangle lists) to the open batch, and the batch goes to
// the GPU when a draw arrives under a different drawing state, and at Clear,
// EndScene, Present and read-back. Shader programs emulate the
// fixed-function states the scene uses; the back end sends the driver only
// the GL state that changed since its last draw. The GL calls and the shader stay
// within what OpenGL ES 3.0 offers.
//
// The window handle's nativeWindow is the SDL_Window, created with
// SDL_WINDOW_OPENGL; the device creates and owns the GL context.
#pragma once

#include "platform/d3d9/d3d9.h"

struct GlDeviceOptions {
    // Off: every immediate call is one GPU draw (for comparison in benchmarks).
    bool batching = true;
    // Off: a draw under a new state re-issues every GL state call, changed or
    // not (for comparison in benchmarks).
    bool skipUnchangedState = true;
};

// The default factory of the render device.
IDirect3D9* GlDirect3DCreate9(UINT sdkVersion);
// The same with options (benchmarks).
IDirect3D9* GlDirect3DCreate9WithOptions(UINT sdkVersion, const GlDeviceOptions& options);
