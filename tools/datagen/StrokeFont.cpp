// Glyph outlines of the generator's stroke font. Each glyph is a list of
// polylines in font units: x to the right from the glyph's left edge, y up
// from the baseline, cap height 1. Curves are arcs of ellipses cut into
// short straight pieces.
#include "tools/datagen/StrokeFont.h"

#include <cmath>
#include <cstdio>
#include <map>

namespace datagen {

namespace {

using Polyline = std::vector<Point>;

struct Glyph {
    float width = 0;
    std::vector<Polyline> strokes;
};

constexpr float kPi = 3.14159265f;

// Arc of the ellipse (cx, cy, rx, ry) from angle a0 to a1 in degrees,
// counter-clockwise when a1 > a0, clockwise otherwise.
Polyline Arc(float cx, float cy, float rx, float ry, float a0, float a1)
{
    Polyline line;
    int pieces = static_cast<int>(std::ceil(std::fabs(a1 - a0) / 7.5f));
    for (int i = 0; i <= pieces; ++i) {
        float a = (a0 + (a1 - a0) * i / pieces) * kPi / 180.0f;
        line.push_back(Point{cx + rx * std::cos(a), cy + ry * std::sin(a)});
    }
    return line;
}

const std::map<char32_t, Glyph>& Glyphs()
{
    static const std::map<char32_t, Glyph> glyphs = {
        {U' ', {0.45f, {}}},
        {U'A', {0.8f, {{{0.0f, 0.0f}, {0.4f, 1.0f}, {0.8f, 0.0f}}, {{0.15f, 0.36f}, {0.65f, 0.36f}}}}},
        {U'C', {0.84f, {Arc(0.45f, 0.5f, 0.42f, 0.5f, 45, 315)}}},
        {U'E', {0.68f, {{{0.68f, 1.0f}, {0.05f, 1.0f}, {0.05f, 0.0f}, {0.68f, 0.0f}}, {{0.05f, 0.52f}, {0.56f, 0.52f}}}}},
        {U'L', {0.64f, {{{0.05f, 1.0f}, {0.05f, 0.0f}, {0.64f, 0.0f}}}}},
        {U'N', {0.76f, {{{0.05f, 0.0f}, {0.05f, 1.0f}, {0.71f, 0.0f}, {0.71f, 1.0f}}}}},
        {U'O', {0.92f, {Arc(0.46f, 0.5f, 0.46f, 0.5f, 0, 360)}}},
        {U'S', {0.74f, {[] {
             // Upper bowl from the top right round to the middle, then the
             // lower bowl from the middle round to the bottom left.
             Polyline s = Arc(0.37f, 0.75f, 0.34f, 0.25f, 35, 270);
             Polyline lower = Arc(0.37f, 0.25f, 0.37f, 0.25f, 90, -145);
             s.insert(s.end(), lower.begin() + 1, lower.end());
             return s;
         }()}}},
        {U'V', {0.8f, {{{0.0f, 1.0f}, {0.4f, 0.0f}, {0.8f, 1.0f}}}}},
        {U'0', {0.7f, {Arc(0.35f, 0.5f, 0.33f, 0.5f, 0, 360)}}},
        {U'2', {0.7f, {[] {
             Polyline two = Arc(0.35f, 0.72f, 0.31f, 0.28f, 160, -30);
             two.push_back(Point{0.03f, 0.0f});
             two.push_back(Point{0.7f, 0.0f});
             return two;
         }()}}},
        {U'6', {0.7f,
                {Arc(0.36f, 0.5f, 0.33f, 0.5f, 55, 180), {{0.03f, 0.5f}, {0.03f, 0.3f}},
                 Arc(0.36f, 0.3f, 0.33f, 0.3f, 0, 360)}}},
        {U'\u00A9', {1.0f, {Arc(0.5f, 0.5f, 0.5f, 0.5f, 0, 360), Arc(0.52f, 0.5f, 0.22f, 0.24f, 50, 310)}}},
    };
    return glyphs;
}

// Decodes the UTF-8 text into code points (the copyright sign is two bytes).
std::u32string Decode(const std::string& text)
{
    std::u32string out;
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == 0xC2 && i + 1 < text.size()) {
            out.push_back(static_cast<unsigned char>(text[++i]));
        } else {
            out.push_back(c);
        }
    }
    return out;
}

}  // namespace

TextLayout LayOutText(const std::string& text, float x, float baseline, float capHeight, float spacing)
{
    TextLayout layout;
    float pen = x;
    bool first = true;
    for (char32_t code : Decode(text)) {
        auto found = Glyphs().find(code);
        if (found == Glyphs().end()) {
            std::fprintf(stderr, "solvane-datagen: no glyph for character %u\n", static_cast<unsigned>(code));
            continue;
        }
        if (!first) pen += spacing * capHeight;
        first = false;
        const Glyph& glyph = found->second;
        for (const Polyline& line : glyph.strokes)
            for (size_t i = 0; i + 1 < line.size(); ++i)
                layout.segments.push_back(Segment{{pen + line[i].x * capHeight, baseline - line[i].y * capHeight},
                                                  {pen + line[i + 1].x * capHeight, baseline - line[i + 1].y * capHeight}});
        pen += glyph.width * capHeight;
    }
    layout.width = pen - x;
    return layout;
}

float MeasureText(const std::string& text, float capHeight, float spacing)
{
    return LayOutText(text, 0, 0, capHeight, spacing).width;
}

}  // namespace datagen
