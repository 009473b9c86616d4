// Geometry of the logo gem (an eight-sided brilliant: table, crown, girdle
// and pavilion) and its text X-file form. Every face has its own three
// corners so that the facets stay flat when normals are recomputed.
#include "tools/datagen/LogoModel.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <vector>

namespace datagen {

namespace {

struct Vec3 {
    float x, y, z;
};

Vec3 Sub(Vec3 a, Vec3 b) { return Vec3{a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3 Cross(Vec3 a, Vec3 b) { return Vec3{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
float Dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

Vec3 Normalised(Vec3 v)
{
    float length = std::sqrt(Dot(v, v));
    return Vec3{v.x / length, v.y / length, v.z / length};
}

using Triangle = std::array<Vec3, 3>;

// Direct3D draws clockwise triangles as front faces in its left-handed
// space, which makes (b - a) x (c - a) the outward normal. Each triangle is
// turned so that this normal points away from the gem's centre.
Triangle Outward(Vec3 a, Vec3 b, Vec3 c)
{
    const Vec3 centre{0.0f, 0.1f, 0.0f};
    Vec3 normal = Cross(Sub(b, a), Sub(c, a));
    Vec3 middle{(a.x + b.x + c.x) / 3 - centre.x, (a.y + b.y + c.y) / 3 - centre.y, (a.z + b.z + c.z) / 3 - centre.z};
    if (Dot(normal, middle) < 0) return Triangle{a, c, b};
    return Triangle{a, b, c};
}

std::vector<Triangle> GemTriangles()
{
    constexpr int kSides = 8;
    constexpr float kPi = 3.14159265f;
    auto ring = [](float radius, float y, float turn) {
        std::vector<Vec3> points;
        for (int i = 0; i < kSides; ++i) {
            float a = (i + turn) * 2.0f * kPi / kSides;
            points.push_back(Vec3{radius * std::cos(a), y, radius * std::sin(a)});
        }
        return points;
    };
    std::vector<Vec3> table = ring(0.55f, 0.45f, 0.0f);
    std::vector<Vec3> girdleTop = ring(1.0f, 0.12f, 0.0f);
    std::vector<Vec3> girdleBottom = ring(1.0f, 0.0f, 0.0f);
    const Vec3 tableCentre{0.0f, 0.45f, 0.0f};
    const Vec3 culet{0.0f, -0.85f, 0.0f};

    std::vector<Triangle> triangles;
    for (int i = 0; i < kSides; ++i) {
        int j = (i + 1) % kSides;
        triangles.push_back(Outward(tableCentre, table[i], table[j]));
        triangles.push_back(Outward(table[i], girdleTop[i], girdleTop[j]));
        triangles.push_back(Outward(table[i], girdleTop[j], table[j]));
        triangles.push_back(Outward(girdleTop[i], girdleBottom[i], girdleBottom[j]));
        triangles.push_back(Outward(girdleTop[i], girdleBottom[j], girdleTop[j]));
        triangles.push_back(Outward(girdleBottom[i], culet, girdleBottom[j]));
    }
    return triangles;
}

template <typename... Values>
void Append(std::string& out, const char* format, Values... values)
{
    char line[160];
    std::snprintf(line, sizeof line, format, values...);
    out += line;
}

// Calls visit(corner, end) for the corners of every triangle in order; `end`
// is "," but ";" for the last corner, which closes the list.
template <typename Visit>
void ForEachCorner(const std::vector<Triangle>& triangles, Visit visit)
{
    for (size_t f = 0; f < triangles.size(); ++f)
        for (int k = 0; k < 3; ++k) visit(triangles[f][k], f + 1 == triangles.size() && k == 2 ? ";" : ",");
}

}  // namespace

std::string MakeLogoXFile(const std::string& textureName)
{
    std::vector<Triangle> triangles = GemTriangles();
    const size_t faces = triangles.size();
    const size_t corners = faces * 3;

    std::string out = "xof 0303txt 0032\n\n// Solvane logo: a faceted gem. Made by solvane-datagen.\n\n";
    out += "Frame SolvaneLogo {\n FrameTransformMatrix {\n";
    out += "  1.000000,0.000000,0.000000,0.000000,\n  0.000000,1.000000,0.000000,0.000000,\n";
    out += "  0.000000,0.000000,1.000000,0.000000,\n  0.000000,0.000000,0.000000,1.000000;;\n }\n\n";
    out += " Mesh SolvaneGem {\n  " + std::to_string(corners) + ";\n";
    ForEachCorner(triangles, [&](const Vec3& v, const char* end) {
        Append(out, "  %.6f;%.6f;%.6f;%s\n", v.x, v.y, v.z, end);
    });
    out += "  " + std::to_string(faces) + ";\n";
    for (size_t f = 0; f < faces; ++f)
        Append(out, "  3;%zu,%zu,%zu;%s\n", f * 3, f * 3 + 1, f * 3 + 2, f + 1 == faces ? ";" : ",");

    out += "\n  MeshNormals {\n   " + std::to_string(faces) + ";\n";
    for (size_t f = 0; f < faces; ++f) {
        const Triangle& t = triangles[f];
        Vec3 n = Normalised(Cross(Sub(t[1], t[0]), Sub(t[2], t[0])));
        Append(out, "   %.6f;%.6f;%.6f;%s\n", n.x, n.y, n.z, f + 1 == faces ? ";" : ",");
    }
    out += "   " + std::to_string(faces) + ";\n";
    for (size_t f = 0; f < faces; ++f) Append(out, "   3;%zu,%zu,%zu;%s\n", f, f, f, f + 1 == faces ? ";" : ",");
    out += "  }\n";

    // Texture coordinates: the picture is laid over the gem from above.
    out += "\n  MeshTextureCoords {\n   " + std::to_string(corners) + ";\n";
    ForEachCorner(triangles, [&](const Vec3& v, const char* end) {
        Append(out, "   %.6f;%.6f;%s\n", 0.5 + 0.5 * v.x, 0.5 - 0.5 * v.z, end);
    });
    out += "  }\n";

    out += "\n  MeshMaterialList {\n   1;\n   " + std::to_string(faces) + ";\n";
    for (size_t f = 0; f < faces; ++f) out += f + 1 == faces ? "   0;\n" : "   0,\n";
    out += "\n   Material SolvaneCrystal {\n";
    out += "    1.000000;1.000000;1.000000;1.000000;;\n";
    out += "    24.000000;\n";
    out += "    0.600000;0.600000;0.600000;;\n";
    out += "    0.050000;0.050000;0.080000;;\n\n";
    out += "    TextureFilename {\n     \"" + textureName + "\";\n    }\n";
    out += "   }\n  }\n }\n}\n";
    return out;
}

}  // namespace datagen
