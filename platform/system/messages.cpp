#include "platform/system/messages.h"

namespace platform {

void MessageQueue::Post(const MSG& msg) { messages_.push_back(msg); }

void MessageQueue::PostQuit(int exitCode)
{
    quitPosted_ = true;
    quitCode_ = exitCode;
}

bool MessageQueue::Peek(MSG& msg) const
{
    if (!messages_.empty()) {
        msg = messages_.front();
        return true;
    }
    if (quitPosted_) {
        msg = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(quitCode_), 0};
        return true;
    }
    return false;
}

bool MessageQueue::Get(MSG& msg)
{
    if (!messages_.empty()) {
        msg = messages_.front();
        messages_.pop_front();
        return true;
    }
    msg = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(quitCode_), 0};
    quitPosted_ = false;
    return false;
}

bool MessageQueue::Empty() const { return messages_.empty() && !quitPosted_; }

}  // namespace platform

BOOL PostMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (hwnd == nullptr || hwnd->queue == nullptr || hwnd->destroyed) return FALSE;
    hwnd->queue->Post(MSG{hwnd, msg, wParam, lParam});
    return TRUE;
}

LRESULT SendMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (hwnd == nullptr || hwnd->proc == nullptr) return 0;
    return hwnd->proc(hwnd, msg, wParam, lParam);
}

LRESULT DefWindowProcA(HWND hwnd, UINT msg, WPARAM, LPARAM)
{
    if (msg == WM_CLOSE) DestroyWindow(hwnd);
    return 0;
}

BOOL DestroyWindow(HWND hwnd)
{
    if (hwnd == nullptr || hwnd->destroyed) return FALSE;
    SendMessageA(hwnd, WM_DESTROY, 0, 0);
    hwnd->destroyed = true;
    return TRUE;
}

LPARAM SetWindowLongA(HWND hwnd, int index, LPARAM value)
{
    if (hwnd == nullptr || index != GWL_USERDATA) return 0;
    LPARAM old = hwnd->userData;
    hwnd->userData = value;
    return old;
}

LPARAM GetWindowLongA(HWND hwnd, int index)
{
    if (hwnd == nullptr || index != GWL_USERDATA) return 0;
    return hwnd->userData;
}

void PostQuitMessage(HWND hwnd, int exitCode)
{
    if (hwnd != nullptr && hwnd->queue != nullptr) hwnd->queue->PostQuit(exitCode);
}
