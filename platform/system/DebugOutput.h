// The debugger output channel. On this platform the lines go to stderr,
// unbuffered and exactly as given (no prefix), so that they can be read in a
// terminal or a log collector the way a debugger would show them.
#pragma once

#include <cstdio>

inline void OutputDebugStringA(const char* text)
{
    if (text == nullptr) return;
    std::fputs(text, stderr);
    std::fflush(stderr);
}
