// Linked into every program of a sanitizer build (SOLVANE_SANITIZE) and
// nowhere else.
//
// The leak checker runs at exit, after SDL and Mesa have unloaded the
// libraries they opened at run time, so their few allocations that live for
// the whole process show up as leaks of an "<unknown module>" that no
// suppression can name. Keeping those libraries mapped lets the reports name
// them; the libraries below are then suppressed, because their process-long
// allocations are not ours to free. Leaks in our own code still fail a test.
#if defined(__SANITIZE_ADDRESS__)

extern "C" {

int dlclose(void*)
{
    return 0;
}

const char* __lsan_default_suppressions()
{
    // NOTE: assimp's .x parser leaks a little when it gives up on a damaged
    // file, and the tests feed it damaged files on purpose.
    return "leak:libassimp.so\n"
           "leak:libGLX_mesa.so\n"
           "leak:libEGL_mesa.so\n"
           "leak:swrast_dri.so\n"
           "leak:kms_swrast_dri.so\n"
           "leak:libgallium\n"
           "leak:libLLVM\n"
           "leak:libglapi.so\n"
           "leak:libasound.so\n"
           "leak:libdbus-1.so\n"
           "leak:libpulse\n"
           "leak:libSDL2\n";
}

}  // extern "C"

#endif
