// Pictures made up from a number, for a peer that has no picture files:
// concentric coloured bands whose hues and band count change from one
// number to the next, so that a viewer can tell them apart.
#pragma once

#include <cstdint>

inline constexpr int GeneratedPictureSide = 128;
inline constexpr int GeneratedPictureBytes = GeneratedPictureSide * GeneratedPictureSide * 3;

// Fills GeneratedPictureBytes bytes: 128 rows of 128 RGB pixels, top row first.
void GeneratePicture(int index, std::uint8_t* rgb);
