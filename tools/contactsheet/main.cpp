// solvane-contact-sheet FRAMES_DIR OUTPUT.png [COUNT]
//
// Lays out up to COUNT frames (default 24), chosen evenly across the sorted
// frame-NNNNNN.png files of a folder, as a grid of thumbnails with their step
// numbers, so that a whole crystal cycle can be seen in one picture.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/files/PngFile.h"

namespace {

constexpr unsigned kThumbWidth = 213;
constexpr unsigned kThumbHeight = 160;
constexpr unsigned kColumns = 6;
constexpr unsigned kGap = 6;
constexpr unsigned kLabelHeight = 14;

// 3x5 digits, one row of three bits per entry, top row first.
constexpr unsigned char kDigits[10][5] = {
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7}, {5, 5, 7, 1, 1},
    {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1}, {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7},
};

struct Picture {
    unsigned width = 0;
    unsigned height = 0;
    std::vector<std::uint8_t> rgb;

    void Set(unsigned x, unsigned y, std::uint8_t r, std::uint8_t g, std::uint8_t b)
    {
        if (x >= width || y >= height) return;
        std::uint8_t* p = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
        p[0] = r;
        p[1] = g;
        p[2] = b;
    }
};

void DrawNumber(Picture& sheet, unsigned x, unsigned y, unsigned number)
{
    std::string text = std::to_string(number);
    const unsigned scale = 2;
    for (char c : text) {
        const unsigned char* glyph = kDigits[c - '0'];
        for (unsigned row = 0; row < 5; ++row)
            for (unsigned col = 0; col < 3; ++col)
                if ((glyph[row] >> (2 - col)) & 1u)
                    for (unsigned dy = 0; dy < scale; ++dy)
                        for (unsigned dx = 0; dx < scale; ++dx)
                            sheet.Set(x + col * scale + dx, y + row * scale + dy, 230, 230, 230);
        x += 4 * scale;
    }
}

// Box-filtered reduction of a frame into its cell.
void DrawThumbnail(Picture& sheet, unsigned left, unsigned top, const Picture& frame)
{
    for (unsigned ty = 0; ty < kThumbHeight; ++ty) {
        unsigned y0 = ty * frame.height / kThumbHeight;
        unsigned y1 = std::max(y0 + 1, (ty + 1) * frame.height / kThumbHeight);
        for (unsigned tx = 0; tx < kThumbWidth; ++tx) {
            unsigned x0 = tx * frame.width / kThumbWidth;
            unsigned x1 = std::max(x0 + 1, (tx + 1) * frame.width / kThumbWidth);
            unsigned sum[3] = {0, 0, 0};
            unsigned count = 0;
            for (unsigned y = y0; y < y1 && y < frame.height; ++y)
                for (unsigned x = x0; x < x1 && x < frame.width; ++x) {
                    const std::uint8_t* p = &frame.rgb[(static_cast<std::size_t>(y) * frame.width + x) * 3];
                    for (int c = 0; c < 3; ++c) sum[c] += p[c];
                    ++count;
                }
            if (count == 0) continue;
            sheet.Set(left + tx, top + ty, static_cast<std::uint8_t>(sum[0] / count),
                      static_cast<std::uint8_t>(sum[1] / count), static_cast<std::uint8_t>(sum[2] / count));
        }
    }
}

unsigned StepOf(const std::filesystem::path& path)
{
    std::string name = path.stem().string();  // frame-000123
    std::size_t dash = name.rfind('-');
    return dash == std::string::npos ? 0u : static_cast<unsigned>(std::strtoul(name.c_str() + dash + 1, nullptr, 10));
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: solvane-contact-sheet FRAMES_DIR OUTPUT.png [COUNT]\n");
        return 2;
    }
    unsigned wanted = argc == 4 ? static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10)) : 24u;
    if (wanted == 0) wanted = 24;

    std::vector<std::filesystem::path> frames;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(argv[1], error)) {
        std::string name = entry.path().filename().string();
        if (name.rfind("frame-", 0) == 0 && entry.path().extension() == ".png") frames.push_back(entry.path());
    }
    if (error || frames.empty()) {
        std::fprintf(stderr, "solvane-contact-sheet: no frame-NNNNNN.png files in \"%s\"\n", argv[1]);
        return 1;
    }
    std::sort(frames.begin(), frames.end());

    std::vector<std::filesystem::path> chosen;
    unsigned count = std::min<unsigned>(wanted, static_cast<unsigned>(frames.size()));
    for (unsigned i = 0; i < count; ++i) {
        std::size_t index = count == 1 ? 0 : i * (frames.size() - 1) / (count - 1);
        chosen.push_back(frames[index]);
    }

    unsigned columns = std::min(kColumns, count);
    unsigned rows = (count + columns - 1) / columns;
    Picture sheet;
    sheet.width = kGap + columns * (kThumbWidth + kGap);
    sheet.height = kGap + rows * (kThumbHeight + kLabelHeight + kGap);
    sheet.rgb.assign(static_cast<std::size_t>(sheet.width) * sheet.height * 3, 24);

    for (unsigned i = 0; i < count; ++i) {
        Picture frame;
        std::string why;
        if (!platform::ReadPng(chosen[i].string(), frame.width, frame.height, platform::PixelLayout::Rgb, frame.rgb,
                               &why)) {
            std::fprintf(stderr, "solvane-contact-sheet: skipping \"%s\": %s\n", chosen[i].string().c_str(),
                         why.c_str());
            continue;
        }
        unsigned left = kGap + (i % columns) * (kThumbWidth + kGap);
        unsigned top = kGap + (i / columns) * (kThumbHeight + kLabelHeight + kGap);
        DrawThumbnail(sheet, left, top, frame);
        DrawNumber(sheet, left + 2, top + kThumbHeight + 2, StepOf(chosen[i]));
    }

    std::string why;
    if (!platform::WritePng(argv[2], sheet.width, sheet.height, platform::PixelLayout::Rgb, sheet.rgb.data(), &why)) {
        std::fprintf(stderr, "solvane-contact-sheet: cannot write \"%s\": %s\n", argv[2], why.c_str());
        return 1;
    }
    std::printf("contact sheet of %u frames: %s\n", count, argv[2]);
    return 0;
}
