// Test helpers for drawing code.
#include "support/DeviceTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "platform/files/PngFile.h"

namespace testsupport {

D3DPRESENT_PARAMETERS FullScreenParameters()
{
    D3DPRESENT_PARAMETERS pp{};
    pp.BackBufferWidth = 640;
    pp.BackBufferHeight = 480;
    pp.BackBufferFormat = D3DFMT_X8R8G8B8;
    pp.BackBufferCount = 1;
    pp.SwapEffect = D3DSWAPEFFECT_COPY;
    pp.EnableAutoDepthStencil = TRUE;
    pp.AutoDepthStencilFormat = D3DFMT_D16;
    pp.Flags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
    pp.PresentationInterval = D3DPRESENT_INTERVAL_ONE;
    return pp;
}

RecordingDevice* NewRecordingDevice() { return new RecordingDevice(FullScreenParameters()); }

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

}  // namespace testsupport
