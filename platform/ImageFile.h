// Reading a picture file of either kind the installation's tools accept
// (PNG or BMP, told apart by their first bytes) as tightly packed RGB rows,
// top row first. libpng and SDL stay inside ImageFile.cpp.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// A missing, truncated or corrupt file gives false and a reason in error.
bool ReadImageRgb(const std::string& path, unsigned& width, unsigned& height, std::vector<std::uint8_t>& pixels,
                  std::string* error = nullptr);

}  // namespace platform
