// Reading a picture file of either kind the installation accepts (PNG or
// BMP, told apart by their first bytes, never by the name) as tightly packed
// rows, top row first. libpng and SDL stay inside platform/.
//
// The header is checked before a decoder allocates anything: both sides at
// most kMaxImageSide pixels, and a BMP's pixel data inside the file. A file
// larger than any acceptable picture is not read at all. Failures are
// returned as a reason in words (without the file name; the caller knows
// which file it asked for and names it once).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/files/PngFile.h"

namespace platform {

constexpr unsigned kMaxImageSide = 4096;

// The bytes of a whole file. A failure gives false and a reason in error.
bool DecodeImage(const std::uint8_t* bytes, std::size_t size, PixelLayout layout, unsigned& width, unsigned& height,
                 std::vector<std::uint8_t>& pixels, std::string* error = nullptr);

// The file at path; "missing" when there is no such file.
bool ReadImage(const std::string& path, PixelLayout layout, unsigned& width, unsigned& height,
               std::vector<std::uint8_t>& pixels, std::string* error = nullptr);

// ReadImage as RGB, for the tools.
bool ReadImageRgb(const std::string& path, unsigned& width, unsigned& height, std::vector<std::uint8_t>& pixels,
                  std::string* error = nullptr);

// True when path holds a picture that ReadImage accepts; otherwise the
// reason. Decodes the whole picture, so it is as sure as a load.
bool CheckImageFile(const std::string& path, std::string* error);

// Reads a whole file of at most limit bytes; false with a reason otherwise.
bool ReadWholeFile(const std::string& path, std::size_t limit, std::vector<std::uint8_t>& bytes, std::string* error);

}  // namespace platform
