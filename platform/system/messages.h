// The window-message machinery that stands in for Win32's: window records
// behind HWND, the message queue, posting and sending, and the event sources
// that the message loop polls (window events, capture blocks, sockets).
//
// Everything here runs on the one loop thread. A source that is fed by
// another thread (SDL's audio thread) hands its data over through that
// library's own queue and turns it into messages only inside Poll().
#pragma once

#include <cstddef>
#include <deque>
#include <vector>

#include "platform/system/win32types.h"

using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);

constexpr int GWL_USERDATA = -21;
constexpr UINT PM_NOREMOVE = 0x0000;
constexpr UINT PM_REMOVE = 0x0001;

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

namespace platform {

// FIFO of posted messages. The quit message is kept apart so that, as on
// Windows, it is retrieved only once the queue holds nothing else.
class MessageQueue {
public:
    void Post(const MSG& msg);
    void PostQuit(int exitCode);
    bool Peek(MSG& msg) const;  // true when a message (or the quit) is waiting
    bool Get(MSG& msg);         // false for WM_QUIT, whose wParam is the exit code
    bool Empty() const;
    std::size_t Size() const { return messages_.size(); }

private:
    std::deque<MSG> messages_;
    bool quitPosted_ = false;
    int quitCode_ = 0;
};

// Something the loop polls on every pass: it turns what happened since the
// last pass into posted messages. A source may name file descriptors that
// the idle wait should wake up for.
class EventSource {
public:
    virtual ~EventSource() = default;
    virtual void Poll() = 0;
    virtual void CollectWaitDescriptors(std::vector<int>&) {}
};

}  // namespace platform

// The record behind a window handle. The platform window fills it in.
struct HWND__ {
    WNDPROC proc = nullptr;
    LPARAM userData = 0;
    platform::MessageQueue* queue = nullptr;
    void* nativeWindow = nullptr;  // the SDL_Window behind it, for the graphics device
    bool destroyed = false;
};

BOOL PostMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT SendMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// WM_CLOSE destroys the window (sending WM_DESTROY); everything else yields 0.
LRESULT DefWindowProcA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
BOOL DestroyWindow(HWND hwnd);
LPARAM SetWindowLongA(HWND hwnd, int index, LPARAM value);
LPARAM GetWindowLongA(HWND hwnd, int index);
// Win32 posts the quit message to the calling thread's queue; here the
// window names the queue, so the loop thread owns no hidden state.
void PostQuitMessage(HWND hwnd, int exitCode);
