// Concentric coloured bands whose hues and band count follow the picture's
// number; see GeneratedPicture.h.
#include "net/PicturePattern.h"

#include <cmath>
#include <cstddef>

#include "net/GeneratedPicture.h"

namespace {

// Hue in turns (0..1), full saturation, the given value (0..1).
void HueToRgb(double hue, double value, std::uint8_t* out)
{
    double h = (hue - std::floor(hue)) * 6.0;
    double x = 1.0 - std::fabs(std::fmod(h, 2.0) - 1.0);
    double r = 0, g = 0, b = 0;
    switch (static_cast<int>(h)) {
    case 0: r = 1; g = x; break;
    case 1: r = x; g = 1; break;
    case 2: g = 1; b = x; break;
    case 3: g = x; b = 1; break;
    case 4: r = x; b = 1; break;
    default: r = 1; b = x; break;
    }
    out[0] = static_cast<std::uint8_t>(std::lround(r * value * 255.0));
    out[1] = static_cast<std::uint8_t>(std::lround(g * value * 255.0));
    out[2] = static_cast<std::uint8_t>(std::lround(b * value * 255.0));
}

}  // namespace

PicturePattern::PicturePattern()
{
    const int side = GeneratedPictureSide;
    const std::size_t pixels = static_cast<std::size_t>(side) * side;
    radius_.reserve(pixels);
    quarterRadius_.reserve(pixels);
    for (auto& wobble : wobble_) wobble.reserve(pixels);
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            double dx = (x + 0.5) / side - 0.5;
            double dy = (y + 0.5) / side - 0.5;
            double radius = std::sqrt(dx * dx + dy * dy) * 2.0;
            double angle = std::atan2(dy, dx);
            radius_.push_back(radius);
            quarterRadius_.push_back(0.25 * radius);
            for (int k = 0; k < 3; ++k) wobble_[static_cast<std::size_t>(k)].push_back(0.05 * std::sin(angle * (k + 2)));
        }
    }
}

void PicturePattern::Fill(int index, std::uint8_t* rgb) const
{
    if (index < 0) index = -index;
    double baseHue = std::fmod(index * 0.381966, 1.0);  // golden-ratio steps keep neighbours apart
    int rings = 3 + index % 5;
    const std::vector<double>& wobble = wobble_[static_cast<std::size_t>(index % 3)];
    for (std::size_t p = 0; p < radius_.size(); ++p) {
        const double radius = radius_[p];
        double hue = baseHue + quarterRadius_[p] + wobble[p];
        bool band = static_cast<int>(radius * rings * 2.0) % 2 == 0;
        double value = band ? 1.0 : 0.55;
        if (radius > 1.0) value *= 0.35;
        HueToRgb(hue, value, rgb + p * 3);
    }
}
