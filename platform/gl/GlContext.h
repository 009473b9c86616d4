// Creating the GL context of the device's window.
#pragma once

struct SDL_Window;

// An OpenGL 3.3 core context, or else an OpenGL ES 3.0 one (`gles`), for the
// window; false, logged, when neither can be made. `context` is an
// SDL_GLContext.
bool CreateGlContext(SDL_Window* window, void*& context, bool& gles);
