// Test helpers for drawing code.
#include "support/DeviceTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "platform/files/PngFile.h"
#include "render/RenderDevice.h"

namespace testsupport {

D3DPRESENT_PARAMETERS FullScreenParameters() { return RenderDevice::PresentParametersFor(nullptr, 640, 480, false); }

RecordingDevice* NewRecordingDevice() { return new RecordingDevice(FullScreenParameters()); }

RecordingDevice* CreateRecordingDevice(RenderDevice& renderer)
{
    renderer.SetDirect3DFactory(RecordingDirect3DCreate9);
    if (!renderer.CreateDevice(nullptr, 640, 480, false)) return nullptr;
    return dynamic_cast<RecordingDevice*>(renderer.Device());
}

void ExpectRenderStates(const DeviceState& s, std::initializer_list<RenderStateIs> expected)
{
    for (const RenderStateIs& e : expected)
        EXPECT_EQ(s.RenderState(e.state), e.value) << "render state " << static_cast<int>(e.state);
}

std::string TempDir()
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info ? std::string(info->test_suite_name()) + "_" + info->name() : "solvane_test";
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    // The process id keeps two checkouts' runs of one test apart.
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("solvane_" + std::to_string(::getpid()) + "_" + name);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    std::filesystem::create_directories(dir, ec);
    return dir.string();
}

bool WriteRgbaPng(const std::string& path, unsigned width, unsigned height, const std::vector<std::uint8_t>& rgba)
{
    return platform::WritePng(path, width, height, platform::PixelLayout::Rgba, rgba.data());
}

bool WriteSolidPng(const std::string& path, unsigned width, unsigned height, std::uint8_t r, std::uint8_t g,
                   std::uint8_t b, std::uint8_t a)
{
    std::vector<std::uint8_t> rgba(static_cast<std::size_t>(width) * height * 4);
    for (std::size_t i = 0; i < rgba.size(); i += 4) {
        rgba[i] = r;
        rgba[i + 1] = g;
        rgba[i + 2] = b;
        rgba[i + 3] = a;
    }
    return WriteRgbaPng(path, width, height, rgba);
}

bool WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::vector<std::uint8_t> ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::uint8_t> Bmp24(int width, int height, const std::vector<std::uint32_t>& argbTopFirst)
{
    const int rowBytes = (width * 3 + 3) & ~3;
    const int dataSize = rowBytes * height;
    std::vector<std::uint8_t> b(54 + static_cast<std::size_t>(dataSize), 0);
    auto put32 = [&](std::size_t at, std::uint32_t v) { std::memcpy(&b[at], &v, 4); };
    auto put16 = [&](std::size_t at, std::uint16_t v) { std::memcpy(&b[at], &v, 2); };
    b[0] = 'B';
    b[1] = 'M';
    put32(2, static_cast<std::uint32_t>(b.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, static_cast<std::uint32_t>(width));
    put32(22, static_cast<std::uint32_t>(height));
    put16(26, 1);
    put16(28, 24);
    put32(34, static_cast<std::uint32_t>(dataSize));
    for (int y = 0; y < height; ++y) {
        std::size_t row = 54 + static_cast<std::size_t>(height - 1 - y) * rowBytes;
        for (int x = 0; x < width; ++x) {
            std::uint32_t p = argbTopFirst[static_cast<std::size_t>(y) * width + x];
            b[row + x * 3] = p & 0xFF;
            b[row + x * 3 + 1] = (p >> 8) & 0xFF;
            b[row + x * 3 + 2] = (p >> 16) & 0xFF;
        }
    }
    return b;
}

}  // namespace testsupport
