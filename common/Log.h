// One log call for the whole installation. Lines go to stderr and read
//   solvane: capture: device "USB Mic" opened at 48000 Hz
// The installation writes no log file.
#pragma once

#include <cstdarg>

void LogLine(const char* subsystem, const char* format, ...) __attribute__((format(printf, 2, 3)));
void LogLineV(const char* subsystem, const char* format, va_list args);
