// Loading, scaling and generating the peer's pictures.
#include "PictureSource.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "common/Log.h"
#include "net/GeneratedPicture.h"
#include "platform/files/ImageFile.h"

namespace {

bool IsPictureFile(const std::filesystem::path& path)
{
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".png" || extension == ".bmp";
}

}  // namespace

std::vector<std::uint8_t> ScaleRgb(const std::uint8_t* rgb, unsigned width, unsigned height, int side)
{
    std::vector<std::uint8_t> scaled(static_cast<std::size_t>(side) * side * 3, 0);
    if (rgb == nullptr || width == 0 || height == 0 || side <= 0) return scaled;
    for (int ty = 0; ty < side; ++ty) {
        std::size_t y0 = static_cast<std::size_t>(ty) * height / side;
        std::size_t y1 = std::max(y0 + 1, static_cast<std::size_t>(ty + 1) * height / side);
        for (int tx = 0; tx < side; ++tx) {
            std::size_t x0 = static_cast<std::size_t>(tx) * width / side;
            std::size_t x1 = std::max(x0 + 1, static_cast<std::size_t>(tx + 1) * width / side);
            std::uint64_t sum[3] = {0, 0, 0};
            for (std::size_t y = y0; y < y1; ++y) {
                const std::uint8_t* row = rgb + (y * width + x0) * 3;
                for (std::size_t x = x0; x < x1; ++x, row += 3)
                    for (int c = 0; c < 3; ++c) sum[c] += row[c];
            }
            std::uint64_t area = (y1 - y0) * (x1 - x0);
            std::uint8_t* out = scaled.data() + (static_cast<std::size_t>(ty) * side + tx) * 3;
            for (int c = 0; c < 3; ++c) out[c] = static_cast<std::uint8_t>((sum[c] + area / 2) / area);
        }
    }
    return scaled;
}

std::vector<std::uint8_t> GeneratedPicture(int index)
{
    std::vector<std::uint8_t> rgb(PictureSource::PictureBytes);
    GeneratePicture(index, rgb.data());
    return rgb;
}

bool PictureSource::LoadFolder(const std::string& folder, std::string& error)
{
    namespace fs = std::filesystem;
    std::error_code failure;
    if (!fs::is_directory(folder, failure)) {
        error = "\"" + folder + "\" is not a folder";
        return false;
    }
    std::vector<fs::path> files;
    for (fs::directory_iterator it(folder, failure), end; !failure && it != end; it.increment(failure)) {
        std::error_code kindFailure;
        if (it->is_regular_file(kindFailure) && IsPictureFile(it->path())) files.push_back(it->path());
    }
    if (failure) {
        error = "cannot list \"" + folder + "\": " + failure.message();
        return false;
    }
    std::sort(files.begin(), files.end());

    pictures_.clear();
    next_ = 0;
    for (const fs::path& file : files) {
        unsigned width = 0;
        unsigned height = 0;
        std::vector<std::uint8_t> pixels;
        std::string reason;
        if (!platform::ReadImageRgb(file.string(), width, height, pixels, &reason)) {
            LogLine("peer", "skipping \"%s\": %s", file.string().c_str(), reason.c_str());
            continue;
        }
        pictures_.push_back(PeerPicture{file.filename().string(), ScaleRgb(pixels.data(), width, height, Side)});
    }
    if (pictures_.empty()) {
        error = "no readable PNG or BMP pictures in \"" + folder + "\"";
        return false;
    }
    return true;
}

void PictureSource::UseGenerated(int count)
{
    pictures_.clear();
    next_ = 0;
    for (int i = 0; i < std::max(count, 1); ++i)
        pictures_.push_back(PeerPicture{"generated " + std::to_string(i + 1), GeneratedPicture(i)});
}

const PeerPicture& PictureSource::Next()
{
    if (pictures_.empty()) UseGenerated(1);
    const PeerPicture& picture = pictures_[next_];
    next_ = (next_ + 1) % pictures_.size();
    return picture;
}
