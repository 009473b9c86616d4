// The one window of the installation, on SDL2.
//
// Full screen by default (desktop resolution, cursor hidden, no minimising
// on focus loss), a 640x480 window with --windowed, and SDL's "offscreen"
// video driver with --headless: then nothing is shown but frames are still
// rendered. Without a display and without --headless the start fails.
//
// The window owns the HWND record that the message functions of
// platform/system/messages.h work on, and turns SDL's events into window messages.
#pragma once

#include <memory>
#include <string>

#include "common/NonCopyable.h"
#include "platform/system/Keyboard.h"
#include "platform/system/messages.h"

namespace platform {

enum class WindowMode { FullScreen, Windowed, Headless };

struct WindowSettings {
    WindowMode mode = WindowMode::FullScreen;
    std::string title = "Solvane";
    int width = 640;   // used by Windowed and Headless
    int height = 480;
    int display = 0;   // the display that FullScreen covers and Windowed opens on
};

// Starts SDL's video subsystem (the offscreen driver for Headless); says on
// stderr which driver was chosen. Without a display a mode other than
// Headless fails, and `error` says so and names --headless.
bool StartVideo(WindowMode& mode, std::string& error);
void StopVideo();

class Window : NonCopyable {
public:
    // Creates the window; the queue receives its messages, keyboard its keys.
    static std::unique_ptr<Window> Create(const WindowSettings& settings, MessageQueue& queue, Keyboard& keyboard,
                                          std::string& error);
    ~Window();

    HWND Handle() { return &record_; }
    bool IsHeadless() const { return headless_; }

    // Translates pending SDL events into messages and key states. A closed
    // window is WM_CLOSE with lParam 0; a stop signal (SIGINT, SIGTERM) is
    // WM_CLOSE with the signal's number as lParam.
    void PumpEvents();
    // Waits for an SDL event at most timeoutMs; returns at once if one is pending.
    void HideCursor();

private:
    Window(MessageQueue& queue, Keyboard& keyboard);

    HWND__ record_;
    void* sdlWindow_ = nullptr;
    Keyboard& keyboard_;
    bool headless_ = false;
    bool cursorHidden_ = false;
};

}  // namespace platform
