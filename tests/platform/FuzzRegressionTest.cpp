// Inputs that once broke a reader under the fuzzer (tests/fuzz/regressions/
// <target>/) are read again here, in the ordinary build: each is refused with
// a reason or read into a whole result, and nothing crashes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/files/ImageFile.h"
#include "platform/files/WaveFile.h"
#include "platform/files/XFileCheck.h"
#include "platform/d3d9/d3dx9mesh.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::pair<std::string, std::vector<std::uint8_t>>> Inputs(const char* target)
{
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> inputs;
    const fs::path folder = fs::path(SOLVANE_SOURCE_DIR) / "tests" / "fuzz" / "regressions" / target;
    std::error_code error;
    if (!fs::is_directory(folder, error)) return inputs;
    for (const auto& entry : fs::directory_iterator(folder)) {
        std::ifstream file(entry.path(), std::ios::binary);
        inputs.emplace_back(entry.path().filename().string(),
                            std::vector<std::uint8_t>(std::istreambuf_iterator<char>(file), {}));
    }
    return inputs;
}

TEST(FuzzRegression, WaveInputs)
{
    for (const auto& [name, bytes] : Inputs("wav")) {
        for (int rate : {160000, 0}) {
            platform::MonoWave wave;
            std::string error;
            if (platform::DecodeMonoWave(bytes.data(), bytes.size(), rate, wave, error)) {
                EXPECT_FALSE(wave.samples.empty()) << name;
                if (rate != 0) {
                    EXPECT_EQ(wave.rate, rate) << name;
                }
            } else {
                EXPECT_FALSE(error.empty()) << name;
            }
        }
    }
}

TEST(FuzzRegression, PictureInputs)
{
    for (const char* target : {"png", "bmp"}) {
        for (const auto& [name, bytes] : Inputs(target)) {
            unsigned width = 0, height = 0;
            std::vector<std::uint8_t> pixels;
            std::string error;
            if (platform::DecodeImage(bytes.data(), bytes.size(), platform::PixelLayout::Rgb, width, height, pixels,
                                      &error)) {
                EXPECT_EQ(pixels.size(), std::size_t{width} * height * 3) << name;
            } else {
                EXPECT_FALSE(error.empty()) << name;
            }
        }
    }
}

TEST(FuzzRegression, MeshInputs)
{
    for (const auto& [name, bytes] : Inputs("xfile")) {
        const std::vector<char> text(bytes.begin(), bytes.end());
        std::string why;
        if (!platform::CheckXFileBytes(text, &why)) continue;
        ID3DXMesh* mesh = nullptr;
        if (SUCCEEDED(platform::LoadMeshFromXInMemory(text, D3DXMESH_MANAGED, nullptr, nullptr, nullptr, nullptr, &mesh,
                                                      &why))) {
            mesh->Release();
        } else {
            EXPECT_FALSE(why.empty()) << name;
        }
    }
}

}  // namespace
