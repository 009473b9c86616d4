// --help and --version, answered alike by every program of the installation:
// the usage, or the program's name and version, on standard output.
#pragma once

#include <cstdio>

// True when one of the two was asked for and answered; the program then ends
// with status 0.
inline bool AnswerHelpOrVersion(bool help, bool version, const char* usage, const char* program)
{
    if (help) {
        std::fputs(usage, stdout);
        return true;
    }
    if (version) {
        std::printf("%s %s\n", program, SOLVANE_VERSION);
        return true;
    }
    return false;
}
