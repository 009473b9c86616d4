// Dear ImGui drawn through the render device: the operator's panels (the
// diagnostics panel, the problems notice, the calibration meter) are built
// with ImGui's widgets and drawn as textured, alpha-blended screen-space
// triangles in the same 640x480 back buffer as the scene, so they reach the
// screen, the recording device and --frames output alike, and need no GL
// code of their own.
//
// The renderer owns its ImGui context (ImGui keeps a current-context
// pointer; Begin makes this one current) and the font texture, built once
// from a TrueType file. Every frame is deterministic for the same calls:
// time advances by the step length given, never by the wall clock.
//
// Threads: the step loop only.
#pragma once

#include <memory>
#include <string>

#include "platform/d3d9/DeviceRef.h"
#include "platform/d3d9/d3d9.h"

struct ImGuiContext;

class OverlayRenderer {
public:
    // Loads the font (ImGui's built-in one when the file cannot be read) and
    // uploads its atlas. False when the device refuses the texture.
    bool Create(IDirect3DDevice9* device, const std::string& fontFile, float pixelSize, int width, int height);
    bool IsReady() const { return static_cast<bool>(fontTexture_); }

    // Between these two, ImGui's widget calls build the overlay's frame.
    void Begin(float stepSeconds);
    // Draws what was built, between the device's BeginScene and EndScene,
    // and puts back every state it changed.
    void End(IDirect3DDevice9* device);

private:
    struct ContextDeleter {
        void operator()(ImGuiContext* context) const;
    };
    // The context goes last: the font texture is released before it.
    std::unique_ptr<ImGuiContext, ContextDeleter> context_;
    DeviceRef<IDirect3DTexture9> fontTexture_;
    bool begun_ = false;
};
