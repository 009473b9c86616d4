// A stand-in for the Application in scene, scenery and world tests: a
// render device on the recording backend, a window record that notes the
// messages sent to it, scripted keys, and switches for the running and
// active flags. WM_CLOSE ends the run, as the real window's teardown does.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/Options.h"
#include "platform/system/Keyboard.h"
#include "platform/d3d9/RecordingDevice.h"
#include "platform/system/Window.h"
#include "platform/system/messages.h"
#include "render/RenderDevice.h"
#include "scene/SceneHost.h"

class EventSequencer;

class SceneTestHost : public SceneHost {
public:
    SceneTestHost();
    ~SceneTestHost() override;

    // Creates the recording device; false when that fails.
    bool Start();
    // Creates a headless window and the OpenGL device instead, for tests
    // that look at real frames; false when no such device can be made.
    bool StartDrawing(std::string& error);

    bool IsRunning() const override { return running; }
    bool IsActive() const override { return active; }
    HWND Handle() const override { return handle; }
    RenderDevice& Renderer() override { return renderer; }
    World* GetWorld() const override { return world; }
    IncomingImages* Images() const override { return images; }
    NetLink* Link() const override { return nullptr; }
    std::int16_t GetAsyncKeyState(int virtualKey) override;
    const std::string& DataFolder() const override { return options.dataDir; }

    IDirect3DDevice9* Device();
    RecordingDevice* Recorder();
    // The last presented frame as 640x480 RGB rows; empty when unreadable.
    std::vector<std::uint8_t> Frame();
    HDC BackBufferDC();
    void GiveBackDC(HDC dc);
    int CloseRequests() const;

    bool running = true;
    bool active = true;
    std::set<int> heldKeys;
    std::vector<UINT> messages;
    World* world = nullptr;
    IncomingImages* images = nullptr;
    Options options;

private:
    static LRESULT Record(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

    HWND__ window;
    HWND handle = &window;
    platform::MessageQueue queue;
    platform::Keyboard keyboard;
    std::unique_ptr<platform::Window> screen;
    bool videoStarted = false;
    RenderDevice renderer;
};

// A folder under the build tree with the given data files: PNG names are
// written as small pictures, other names are copied from the installation's
// data folder; names not listed are absent. Returns the folder.
std::string MakeDataFolder(const std::string& name, const std::vector<std::string>& pictures);

// Every file of the installation's data folder, for MakeDataFolder.
std::vector<std::string> EveryDataFile();

// The scene as the program sets it up, on a started host: a data folder
// NAME with every data file, the world, the incoming pictures and the
// sequencer, all known to the host.
::testing::AssertionResult SetUpWholeScene(SceneTestHost& host, const std::string& name, World& world,
                                           IncomingImages& images, EventSequencer& sequencer);
