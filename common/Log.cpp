#include "common/Log.h"

#include <cstdio>

void LogLineV(const char* subsystem, const char* format, va_list args)
{
    char text[1024];
    std::vsnprintf(text, sizeof text, format, args);
    if (subsystem != nullptr && subsystem[0] != '\0')
        std::fprintf(stderr, "solvane: %s: %s\n", subsystem, text);
    else
        std::fprintf(stderr, "solvane: %s\n", text);
    std::fflush(stderr);
}

void LogLine(const char* subsystem, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    LogLineV(subsystem, format, args);
    va_end(args);
}
