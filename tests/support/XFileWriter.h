// Writes small DirectX .x files for the mesh tests, in the text format and in
// the binary token format, from one description, so that both forms of the
// same mesh can be compared.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "common/NonCopyable.h"

namespace testsupport {

struct XTestMesh {
    std::vector<std::array<float, 3>> positions;
    std::vector<std::array<unsigned, 3>> faces;      // clockwise seen from the front
    std::vector<std::array<float, 3>> normals;       // one per position, or none
    std::vector<std::array<float, 2>> uvs;           // one per position, or none
    std::vector<std::string> materialTextures;       // one material each ("" for none); none: no material list
    std::vector<unsigned> faceMaterials;             // one per face when there are materials
};

// A strip of `faces` triangles over a row of points on a 1/8 grid (faces + 2
// vertices), with normals, texture coordinates and one material naming `texture`.
XTestMesh MakeStripMesh(unsigned faces, const std::string& texture);

std::string TextXFile(const XTestMesh& mesh);
std::string BinaryXFile(const XTestMesh& mesh);

// Writes bytes to a file; false on failure.
bool WriteFileBytes(const std::string& path, const std::string& bytes);

// A fresh empty folder under the system's temporary folder, removed by the destructor.
class TempFolder : NonCopyable {
public:
    TempFolder();
    ~TempFolder();
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

}  // namespace testsupport
