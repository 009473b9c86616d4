// Text and binary .x writers for the tests. The binary form follows the
// published token format: names (1), strings (2), integer lists (6), float
// lists (7) and braces (10, 11).
#include "support/XFileWriter.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace testsupport {

XTestMesh MakeStripMesh(unsigned faces, const std::string& texture)
{
    XTestMesh mesh;
    const unsigned columns = (faces + 1) / 2 + 1;
    // Two rows of points; each pair of neighbouring columns gives two triangles.
    for (unsigned row = 0; row < 2; ++row)
        for (unsigned c = 0; c < columns; ++c) {
            float x = static_cast<float>(c) * 0.125f, y = static_cast<float>(row) * 0.5f;
            mesh.positions.push_back({x, y, 0.0f});
            mesh.normals.push_back({0.0f, 0.0f, -1.0f});
            mesh.uvs.push_back({static_cast<float>(c) / 64.0f, 1.0f - static_cast<float>(row)});
        }
    for (unsigned f = 0; f < faces; ++f) {
        unsigned c = f / 2;
        if (f % 2 == 0)
            mesh.faces.push_back({c, columns + c, columns + c + 1});  // clockwise seen from -z
        else
            mesh.faces.push_back({c, columns + c + 1, c + 1});
    }
    mesh.materialTextures = {texture};
    mesh.faceMaterials.assign(faces, 0);
    return mesh;
}

namespace {

std::string Number(float value)
{
    char text[40];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
    return text;
}

template <typename T, typename Each>
std::string List(const std::vector<T>& items, Each each)
{
    std::string out;
    for (size_t i = 0; i < items.size(); ++i) out += "  " + each(items[i]) + (i + 1 == items.size() ? ";\n" : ",\n");
    return out;
}

std::string FacesText(const std::vector<std::array<unsigned, 3>>& faces)
{
    return std::to_string(faces.size()) + ";\n" + List(faces, [](const std::array<unsigned, 3>& f) {
               return "3;" + std::to_string(f[0]) + "," + std::to_string(f[1]) + "," + std::to_string(f[2]) + ";";
           });
}

class BinaryOut {
public:
    void Word(std::uint16_t v) { Bytes(&v, 2); }
    void Dword(std::uint32_t v) { Bytes(&v, 4); }
    void Name(const std::string& name)
    {
        Word(1);
        Dword(static_cast<std::uint32_t>(name.size()));
        out_ += name;
    }
    void String(const std::string& text)
    {
        Word(2);
        Dword(static_cast<std::uint32_t>(text.size()));
        out_ += text;
        Word(0x14);  // the terminating semicolon
    }
    void Open() { Word(10); }
    void Close() { Word(11); }
    void Integers(const std::vector<std::uint32_t>& values)
    {
        Word(6);
        Dword(static_cast<std::uint32_t>(values.size()));
        for (std::uint32_t v : values) Dword(v);
    }
    void Floats(const std::vector<float>& values)
    {
        Word(7);
        Dword(static_cast<std::uint32_t>(values.size()));
        for (float v : values) Bytes(&v, 4);
    }
    std::string& Text() { return out_; }

private:
    void Bytes(const void* data, size_t size) { out_.append(static_cast<const char*>(data), size); }
    std::string out_;
};

}  // namespace

std::string TextXFile(const XTestMesh& mesh)
{
    std::string out = "xof 0303txt 0032\n\nMesh TestMesh {\n " + std::to_string(mesh.positions.size()) + ";\n";
    out += List(mesh.positions, [](const std::array<float, 3>& p) { return Number(p[0]) + ";" + Number(p[1]) + ";" + Number(p[2]) + ";"; });
    out += " " + FacesText(mesh.faces);
    if (!mesh.normals.empty()) {
        out += " MeshNormals {\n " + std::to_string(mesh.normals.size()) + ";\n";
        out += List(mesh.normals, [](const std::array<float, 3>& n) { return Number(n[0]) + ";" + Number(n[1]) + ";" + Number(n[2]) + ";"; });
        out += " " + FacesText(mesh.faces) + " }\n";
    }
    if (!mesh.uvs.empty()) {
        out += " MeshTextureCoords {\n " + std::to_string(mesh.uvs.size()) + ";\n";
        out += List(mesh.uvs, [](const std::array<float, 2>& t) { return Number(t[0]) + ";" + Number(t[1]) + ";"; });
        out += " }\n";
    }
    if (!mesh.materialTextures.empty()) {
        out += " MeshMaterialList {\n " + std::to_string(mesh.materialTextures.size()) + ";\n " +
               std::to_string(mesh.faceMaterials.size()) + ";\n";
        out += List(mesh.faceMaterials, [](unsigned m) { return std::to_string(m); });
        for (const std::string& texture : mesh.materialTextures) {
            out += " Material {\n  1.0;1.0;1.0;1.0;;\n  8.0;\n  0.5;0.5;0.5;;\n  0.0;0.0;0.0;;\n";
            if (!texture.empty()) out += "  TextureFilename {\n   \"" + texture + "\";\n  }\n";
            out += " }\n";
        }
        out += " }\n";
    }
    out += "}\n";
    return out;
}

std::string BinaryXFile(const XTestMesh& mesh)
{
    BinaryOut out;
    out.Text() = "xof 0303bin 0032";
    auto faceList = [&] {
        std::vector<std::uint32_t> ints{static_cast<std::uint32_t>(mesh.faces.size())};
        for (const auto& f : mesh.faces) ints.insert(ints.end(), {3u, f[0], f[1], f[2]});
        out.Integers(ints);
    };
    // A count, then every vector's components in a row.
    auto vectorList = [&](const auto& vectors) {
        out.Integers({static_cast<std::uint32_t>(vectors.size())});
        std::vector<float> floats;
        for (const auto& v : vectors) floats.insert(floats.end(), v.begin(), v.end());
        out.Floats(floats);
    };
    out.Name("Mesh");
    out.Name("TestMesh");
    out.Open();
    vectorList(mesh.positions);
    faceList();
    if (!mesh.normals.empty()) {
        out.Name("MeshNormals");
        out.Open();
        vectorList(mesh.normals);
        faceList();
        out.Close();
    }
    if (!mesh.uvs.empty()) {
        out.Name("MeshTextureCoords");
        out.Open();
        vectorList(mesh.uvs);
        out.Close();
    }
    if (!mesh.materialTextures.empty()) {
        out.Name("MeshMaterialList");
        out.Open();
        std::vector<std::uint32_t> ints = {static_cast<std::uint32_t>(mesh.materialTextures.size()),
                                           static_cast<std::uint32_t>(mesh.faceMaterials.size())};
        ints.insert(ints.end(), mesh.faceMaterials.begin(), mesh.faceMaterials.end());
        out.Integers(ints);
        for (const std::string& texture : mesh.materialTextures) {
            out.Name("Material");
            out.Open();
            out.Floats({1.0f, 1.0f, 1.0f, 1.0f, 8.0f, 0.5f, 0.5f, 0.5f, 0.0f, 0.0f, 0.0f});
            if (!texture.empty()) {
                out.Name("TextureFilename");
                out.Open();
                out.String(texture);
                out.Close();
            }
            out.Close();
        }
        out.Close();
    }
    out.Close();
    return out.Text();
}

bool WriteFileBytes(const std::string& path, const std::string& bytes)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

TempFolder::TempFolder()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "solvane-test-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) != nullptr) path_ = buffer.data();
}

TempFolder::~TempFolder()
{
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

}  // namespace testsupport
