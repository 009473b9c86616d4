#include "platform/system/Window.h"

#include <SDL.h>

#include <cstdlib>
#include <cstring>

#include "common/Log.h"
#include "platform/system/Displays.h"
#include "platform/system/System.h"
#include "platform/system/WaylandSeat.h"

namespace platform {

// Our choice of driver outranks SDL_VIDEODRIVER in the environment: an
// inherited "offscreen" or "dummy" would otherwise give a start that draws
// nothing anyone sees and still reports itself healthy.
static bool TryVideoDriver(const char* driver)
{
    if (SDL_WasInit(SDL_INIT_VIDEO)) SDL_QuitSubSystem(SDL_INIT_VIDEO);
    SDL_SetHintWithPriority(SDL_HINT_VIDEODRIVER, driver, SDL_HINT_OVERRIDE);
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return false;
    const char* current = SDL_GetCurrentVideoDriver();
    if (current != nullptr && std::strcmp(current, driver) == 0) return true;
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    SDL_SetError("SDL started the \"%s\" driver instead", current != nullptr ? current : "?");
    return false;
}

static bool IsSet(const char* value) { return value != nullptr && value[0] != '\0'; }

// Native Wayland when the session has a compositor; false with the reason
// when its driver cannot start (then X through XWayland may still serve).
static bool TryWayland(const char* name, std::string& why)
{
    std::string detail;
    const WaylandSeat seat = ProbeWaylandSeat(detail);
    if (seat == WaylandSeat::Unreachable) {
        why = "cannot reach the Wayland display \"" + std::string(name) + "\" (" + detail + ")";
        return false;
    }
    if (seat == WaylandSeat::Missing && !SdlWaylandWorksWithoutSeat()) {
        SDL_version linked;
        SDL_GetVersion(&linked);
        why = "the Wayland compositor at \"" + std::string(name) +
              "\" offers no input seat, which the Wayland driver of SDL " + std::to_string(linked.major) + "." +
              std::to_string(linked.minor) + "." + std::to_string(linked.patch) +
              " needs (give the compositor a keyboard or pointer, or use X through XWayland)";
        return false;
    }
    if (TryVideoDriver("wayland")) return true;
    why = "the Wayland display \"" + std::string(name) + "\" cannot be used (" + SDL_GetError() + ")";
    return false;
}

bool StartVideo(WindowMode& mode, std::string& error)
{
    SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
    if (mode != WindowMode::Headless) {
        // NOTE: no fallback to offscreen rendering: under a service manager
        // a start before the session's display is up must fail, so that it
        // is tried again, rather than run unseen.
        const char* x11 = std::getenv("DISPLAY");
        const char* wayland = std::getenv("WAYLAND_DISPLAY");
        if (!IsSet(x11) && !IsSet(wayland)) {
            error = "no display (DISPLAY and WAYLAND_DISPLAY are unset); use --headless to render offscreen";
            return false;
        }
        std::string why;
        if (IsSet(wayland)) {
            if (TryWayland(wayland, why)) {
                LogLine("video", "using the \"wayland\" video driver (WAYLAND_DISPLAY=%s)", wayland);
                return true;
            }
            if (IsSet(x11)) LogWarning("video", "not using Wayland: %s; trying X (DISPLAY=%s)", why.c_str(), x11);
        }
        if (IsSet(x11)) {
            if (TryVideoDriver("x11")) {
                LogLine("video", "using the \"x11\" video driver (DISPLAY=%s)", x11);
                return true;
            }
            why = "no X server answers on DISPLAY=\"" + std::string(x11) +
                  "\", or it refuses this user (check XAUTHORITY)";
        }
        error = "no display: " + why + "; use --headless to render offscreen";
        return false;
    }
    // Ask for the offscreen driver by name: SDL's automatic choice would
    // pick a dummy driver that cannot create an OpenGL context.
    if (!TryVideoDriver("offscreen")) {
        error = std::string("cannot open the offscreen video driver: ") + SDL_GetError();
        return false;
    }
    LogLine("video", "using the \"offscreen\" video driver (headless)");
    return true;
}

void StopVideo()
{
    if (SDL_WasInit(SDL_INIT_VIDEO)) SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

Window::Window(MessageQueue& queue, Keyboard& keyboard) : keyboard_(keyboard) { record_.queue = &queue; }

std::unique_ptr<Window> Window::Create(const WindowSettings& settings, MessageQueue& queue, Keyboard& keyboard,
                                       std::string& error)
{
    std::unique_ptr<Window> window(new Window(queue, keyboard));
    Uint32 flags = SDL_WINDOW_OPENGL;
    int width = settings.width;
    int height = settings.height;
    const int display = settings.display;
    if (display < 0 || display >= SDL_GetNumVideoDisplays()) {
        error = "there is no display " + std::to_string(display) + " (displays: " + DescribeDisplays(ListDisplays()) +
                ")";
        return nullptr;
    }
    int x = display == 0 ? SDL_WINDOWPOS_UNDEFINED : static_cast<int>(SDL_WINDOWPOS_UNDEFINED_DISPLAY(display));
    int y = x;
    if (settings.mode == WindowMode::FullScreen) {
        flags |= SDL_WINDOW_FULLSCREEN_DESKTOP;
        SDL_DisplayMode desktop;
        if (SDL_GetDesktopDisplayMode(display, &desktop) == 0) {
            width = desktop.w;
            height = desktop.h;
        }
        // The window's place picks the display that full screen covers.
        SDL_Rect bounds{0, 0, 0, 0};
        SDL_GetDisplayBounds(display, &bounds);
        x = bounds.x;
        y = bounds.y;
    } else if (settings.mode == WindowMode::Headless) {
        flags |= SDL_WINDOW_HIDDEN;
    }
    SDL_Window* sdl = SDL_CreateWindow(settings.title.c_str(), x, y, width, height, flags);
    if (sdl == nullptr) {
        error = std::string("cannot create the window: ") + SDL_GetError();
        return nullptr;
    }
    window->sdlWindow_ = sdl;
    window->record_.nativeWindow = sdl;
    window->headless_ = settings.mode == WindowMode::Headless;
    return window;
}

Window::~Window()
{
    if (sdlWindow_ != nullptr) SDL_DestroyWindow(static_cast<SDL_Window*>(sdlWindow_));
    if (cursorHidden_) SDL_ShowCursor(SDL_ENABLE);
}

static int VirtualKeyOf(SDL_Keycode key)
{
    switch (key) {
    case SDLK_ESCAPE: return VK_ESCAPE;
    case SDLK_LEFT: return VK_LEFT;
    case SDLK_RIGHT: return VK_RIGHT;
    case SDLK_UP: return VK_UP;
    case SDLK_DOWN: return VK_DOWN;
    case SDLK_F1: return VK_F1;
    case SDLK_s: return VK_S;
    default: return -1;
    }
}

void Window::PumpEvents()
{
    HWND hwnd = Handle();
    if (const int number = TakeStopSignal(); number != 0) PostMessageA(hwnd, WM_CLOSE, 0, number);
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        switch (event.type) {
        case SDL_QUIT:
            PostMessageA(hwnd, WM_CLOSE, 0, 0);
            break;
        case SDL_WINDOWEVENT:
            switch (event.window.event) {
            case SDL_WINDOWEVENT_CLOSE:
                PostMessageA(hwnd, WM_CLOSE, 0, 0);
                break;
            case SDL_WINDOWEVENT_FOCUS_GAINED:
            case SDL_WINDOWEVENT_RESTORED:
                PostMessageA(hwnd, WM_ACTIVATE, WA_ACTIVE, 0);
                PostMessageA(hwnd, WM_ACTIVATEAPP, 1, 0);
                break;
            case SDL_WINDOWEVENT_FOCUS_LOST:
            case SDL_WINDOWEVENT_MINIMIZED:
                // NOTE: a headless window never has focus; losing it there
                // must not stop the scene.
                if (!headless_) {
                    PostMessageA(hwnd, WM_ACTIVATE, WA_INACTIVE, 0);
                    PostMessageA(hwnd, WM_ACTIVATEAPP, 0, 0);
                }
                break;
            case SDL_WINDOWEVENT_SIZE_CHANGED:
                PostMessageA(hwnd, WM_SIZE, 0,
                             static_cast<LPARAM>((event.window.data2 << 16) | (event.window.data1 & 0xFFFF)));
                break;
            default:
                break;
            }
            break;
        case SDL_KEYDOWN:
            if (!event.key.repeat) keyboard_.KeyDown(VirtualKeyOf(event.key.keysym.sym));
            break;
        case SDL_KEYUP:
            keyboard_.KeyUp(VirtualKeyOf(event.key.keysym.sym));
            break;
        default:
            break;
        }
    }
}

void Window::HideCursor()
{
    if (cursorHidden_ || headless_) return;
    SDL_ShowCursor(SDL_DISABLE);
    cursorHidden_ = true;
}

}  // namespace platform
