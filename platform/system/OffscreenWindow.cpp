// Offscreen SDL window with an OpenGL context check.
#include "platform/system/OffscreenWindow.h"

#include <SDL.h>

OffscreenWindow::~OffscreenWindow()
{
    if (record_.nativeWindow != nullptr) SDL_DestroyWindow(static_cast<SDL_Window*>(record_.nativeWindow));
    record_.nativeWindow = nullptr;
    if (startedVideo_) SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

bool OffscreenWindow::Open(int width, int height, std::string* reason)
{
    if (SDL_WasInit(SDL_INIT_VIDEO) == 0) {
        SDL_SetHint(SDL_HINT_VIDEODRIVER, "offscreen");
        if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
            if (reason) *reason = std::string("no offscreen video driver: ") + SDL_GetError();
            return false;
        }
        startedVideo_ = true;
    }
    SDL_Window* window = SDL_CreateWindow("Solvane", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, width, height,
                                          SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    if (window == nullptr) {
        if (reason) *reason = std::string("no OpenGL window: ") + SDL_GetError();
        return false;
    }
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
    SDL_GLContext probe = SDL_GL_CreateContext(window);
    if (probe == nullptr) {
        if (reason) *reason = std::string("no OpenGL context: ") + SDL_GetError();
        SDL_DestroyWindow(window);
        return false;
    }
    SDL_GL_MakeCurrent(window, nullptr);
    SDL_GL_DeleteContext(probe);
    record_.nativeWindow = window;
    return true;
}
