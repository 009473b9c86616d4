// What the scene events and the world need from the program that runs them.
//
// The Application implements this; the events, the world and their tests see
// only these few calls, so a scene step can be driven without a window, a
// sound device or a network link (tests supply a small host of their own).
#pragma once

#include <cstdint>

#include "crystal/WorldHost.h"
#include "platform/d3d9/d3d9.h"
#include "platform/system/win32types.h"

class World;
class IncomingImages;
class NetLink;

class SceneHost : public WorldHost {
public:
    // False from the first teardown on: the events then do nothing.
    virtual bool IsRunning() const = 0;
    // False while the window is not the active one: no step is taken.
    virtual bool IsActive() const = 0;
    // The main window; the closing sequence sends it WM_CLOSE.
    virtual HWND Handle() const = 0;
    virtual World* GetWorld() const = 0;
    virtual IncomingImages* Images() const = 0;
    // The network link, or null when the installation runs without one.
    virtual NetLink* Link() const = 0;
    // Non-zero while the key is held or when it was pressed since the last query.
    virtual std::int16_t GetAsyncKeyState(int virtualKey) = 0;
    // Draws the operator's panels over a finished frame, before it is
    // presented (the diagnostics panel, the problems notice). Most hosts have none.
    virtual void DrawOverlays(IDirect3DDevice9* device) { (void)device; }
};
