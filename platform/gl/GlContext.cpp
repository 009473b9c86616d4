// The GL context of the device's window: OpenGL 3.3 core, else OpenGL ES 3.0.
#include "platform/gl/GlContext.h"

#include <SDL.h>

#include <string>

#include "common/Log.h"

bool CreateGlContext(SDL_Window* window, void*& context, bool& gles)
{
    struct Attempt {
        int profile, major, minor;
        bool gles;
    };
    const Attempt attempts[] = {{SDL_GL_CONTEXT_PROFILE_CORE, 3, 3, false}, {SDL_GL_CONTEXT_PROFILE_ES, 3, 0, true}};
    std::string errors;
    for (const Attempt& a : attempts) {
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, a.profile);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, a.major);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, a.minor);
        SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
        context = SDL_GL_CreateContext(window);
        if (context != nullptr) {
            gles = a.gles;
            return true;
        }
        if (!errors.empty()) errors += "; ";
        errors += SDL_GetError();
    }
    LogLine("graphics", "cannot create an OpenGL 3.3 or OpenGL ES 3.0 context: %s", errors.c_str());
    return false;
}
