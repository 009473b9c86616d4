// The installation's 3D logo: a small faceted gem written as a text DirectX
// X file with normals, texture coordinates and one textured material.
#pragma once

#include <string>

namespace datagen {

// The whole "logo.x" file; its material names `textureName`.
std::string MakeLogoXFile(const std::string& textureName);

}  // namespace datagen
