// The base of the Application: it creates the one window, binds it to the
// object so that messages reach the virtual WindowProc, and runs the message
// loop, which calls Tick after every message and on every idle pass.
//
// The loop does not spin: when no message is waiting it sleeps until the
// next window event, socket activity or the time the derived class asks for
// (the next scene step), whichever comes first.
#pragma once

#include <memory>
#include <vector>

#include "common/NonCopyable.h"
#include "platform/system/Keyboard.h"
#include "platform/system/Window.h"
#include "platform/system/messages.h"

class MainWindow : NonCopyable {
public:
    MainWindow();
    virtual ~MainWindow();  // closes the window and stops the video subsystem

    // fullScreen 1 asks for the whole screen; width and height are then unused.
    bool CreateMainWindow(HINSTANCE instance, int showCommand, const char* className, const char* title,
                          int fullScreen, int width, int height);
    static LRESULT StaticWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    // Returns the quit message's exit code.
    int Run();

    HWND Handle() const { return hwnd_; }
    bool IsActive() const { return active_; }

    // Sources polled on every pass (capture, sockets). Not owned.
    void AddEventSource(platform::EventSource* source);
    void RemoveEventSource(platform::EventSource* source);

    void SetHeadless(bool headless) { headless_ = headless; }
    void SetDisplay(int display) { display_ = display; }
    platform::MessageQueue& Queue() { return queue_; }
    platform::Keyboard& Keys() { return keyboard_; }
    platform::Window* NativeWindow() { return window_.get(); }
    const std::string& WindowError() const { return windowError_; }

    // Binds a window record that was made elsewhere (tests run the loop
    // without SDL).
    void AdoptWindow(HWND hwnd);

protected:
    virtual void Tick() {}
    virtual LRESULT WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    // How long an idle pass may sleep, in milliseconds. The base never sleeps.
    virtual int IdleWaitMilliseconds() { return 0; }

    bool active_ = false;

private:
    void PollSources();
    void WaitIdle(int timeoutMs);

    HWND hwnd_ = nullptr;
    HINSTANCE instance_ = nullptr;
    bool headless_ = false;
    int display_ = 0;
    platform::MessageQueue queue_;
    platform::Keyboard keyboard_;
    std::unique_ptr<platform::Window> window_;
    std::vector<platform::EventSource*> sources_;
    std::string windowError_;
};
