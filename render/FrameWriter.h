// Writes the device's back buffer as a PNG picture (--frames).
#pragma once

#include <string>

#include "platform/d3d9/d3d9.h"

// False (with a log line) when the back buffer cannot be read or the file
// cannot be written; the caller keeps running.
bool WriteFrame(IDirect3DDevice9* device, const std::string& path);
