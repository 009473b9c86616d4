// Drawing of the data folder's pictures. The palette is shared: a cool teal
// to violet gradient that reads as cut crystal on the white title screen.
#include "tools/datagen/Artwork.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "tools/datagen/StrokeFont.h"

namespace datagen {

namespace {

constexpr float kPi = 3.14159265f;
const Colour kTeal{0.13f, 0.42f, 0.62f, 1.0f};
const Colour kViolet{0.42f, 0.25f, 0.66f, 1.0f};
const Colour kAqua{0.22f, 0.64f, 0.72f, 1.0f};
const Colour kWhite{1.0f, 1.0f, 1.0f, 1.0f};
const Colour kClearWhite{1.0f, 1.0f, 1.0f, 0.0f};

Colour Scale(Colour c, float k) { return Colour{c.r * k, c.g * k, c.b * k, c.a}; }

// Brightness offset of the triangular facet containing p (cells of `size` pixels),
// which gives flat fills the look of many small cut faces.
float FacetShade(Point p, float size, unsigned seed)
{
    float h = size * 0.8660254f;
    int row = static_cast<int>(std::floor(p.y / h));
    float shifted = p.x / size + ((row & 1) != 0 ? 0.5f : 0.0f);
    int col = static_cast<int>(std::floor(shifted));
    float fx = shifted - col, fy = p.y / h - row;
    int half = fx + fy < 1.0f ? 0 : 1;
    return Hash2(col * 2 + half, row, seed) - 0.5f;
}

// The crystal gradient across the picture, broken into facets.
Colour CrystalColour(Point p, float extent, float facetSize, unsigned seed)
{
    float t = Clamp01((p.x + 0.35f * p.y) / (1.35f * extent));
    Colour c = t < 0.5f ? Mix(kTeal, kAqua, t * 2.0f) : Mix(kAqua, kViolet, (t - 0.5f) * 2.0f);
    return Scale(c, 1.0f + 0.22f * FacetShade(p, facetSize, seed));
}

// One crystal of the title's emblem: a hexagonal prism with a pointed tip,
// seen from the side, standing at `base` and tilted by `tilt` degrees.
void DrawCrystal(Canvas& canvas, Point base, float height, float halfWidth, float tilt)
{
    float s = std::sin(tilt * kPi / 180.0f), c = std::cos(tilt * kPi / 180.0f);
    auto place = [&](float lx, float ly) { return Point{base.x + lx * c + ly * s, base.y - (-lx * s + ly * c)}; };
    Point bottom = place(0, -0.35f * halfWidth);
    Point baseLeft = place(-halfWidth, 0);
    Point baseRight = place(halfWidth, 0);
    Point shoulderLeft = place(-halfWidth, 0.72f * height);
    Point shoulderRight = place(halfWidth, 0.72f * height);
    Point tip = place(0, height);
    Point ridge = place(0, 0.8f * height);

    auto facet = [&](float light) {
        return [&canvas, light](Point p) {
            Colour col = CrystalColour(p, static_cast<float>(canvas.Width()), 7.0f, 11);
            return light >= 0 ? Mix(col, kWhite, light) : Scale(col, 1.0f + light);
        };
    };
    FillPolygon(canvas, {baseLeft, shoulderLeft, ridge, bottom}, facet(-0.25f));
    FillPolygon(canvas, {bottom, ridge, shoulderRight, baseRight}, facet(0.15f));
    FillPolygon(canvas, {shoulderLeft, tip, ridge}, facet(0.3f));
    FillPolygon(canvas, {ridge, tip, shoulderRight}, facet(0.55f));

    const Colour edge{0.08f, 0.18f, 0.32f, 0.85f};
    std::vector<Segment> outline = {{baseLeft, shoulderLeft}, {shoulderLeft, tip},    {tip, shoulderRight},
                                    {shoulderRight, baseRight}, {baseRight, bottom}, {bottom, baseLeft},
                                    {bottom, ridge},           {ridge, tip},         {shoulderLeft, ridge},
                                    {ridge, shoulderRight}};
    StrokeSegments(canvas, outline, 0.55f, [&](Point) { return edge; });
}


float Dot3(const float* a, const float* b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

float SmoothStep(float edge0, float edge1, float x)
{
    float t = Clamp01((x - edge0) / (edge1 - edge0));
    return t * t * (3.0f - 2.0f * t);
}

// The environment seen by the crystals: a pale sky over a darker floor, a
// ring of tall bright panels (some tinted) around the horizon, and several
// small sharp lights. The panels give neighbouring facets very different
// samples, so the faces flash one by one as a crystal turns.
Colour Environment(const float* r)
{
    const float y = r[1];
    const Colour horizon{0.86f, 0.86f, 0.92f, 1};
    Colour c = y >= 0 ? Mix(horizon, Colour{0.50f, 0.66f, 0.95f, 1}, std::sqrt(y))
                      : Mix(Colour{0.64f, 0.65f, 0.76f, 1}, Colour{0.32f, 0.34f, 0.48f, 1}, std::sqrt(-y));

    const float azimuth = std::atan2(r[0], r[2]) * 180.0f / kPi;
    static const float panels[][7] = {
        // centre (degrees), half width, bottom, top, red, green, blue
        {-150, 9, -0.30f, 0.55f, 1.00f, 0.98f, 0.95f}, {-95, 6, -0.20f, 0.40f, 1.00f, 0.80f, 0.90f},
        {-40, 12, -0.35f, 0.60f, 1.00f, 0.99f, 0.97f}, {15, 5, -0.15f, 0.45f, 0.75f, 0.95f, 1.00f},
        {60, 10, -0.30f, 0.50f, 1.00f, 0.97f, 0.90f},  {115, 7, -0.25f, 0.35f, 0.85f, 0.90f, 1.00f},
        {165, 11, -0.30f, 0.55f, 1.00f, 0.98f, 0.96f},
    };
    for (const auto& panel : panels) {
        float distance = std::fabs(std::remainder(azimuth - panel[0], 360.0f));
        float across = 1.0f - SmoothStep(panel[1] - 1.5f, panel[1] + 1.5f, distance);
        float along = SmoothStep(panel[2] - 0.04f, panel[2] + 0.04f, y) * (1.0f - SmoothStep(panel[3] - 0.04f, panel[3] + 0.04f, y));
        float k = across * along;
        c = Mix(c, Colour{panel[4] * 1.15f, panel[5] * 1.15f, panel[6] * 1.15f, 1}, k);
    }

    static const float lights[][4] = {
        // direction x, y, z (normalised below), strength
        {0.35f, 0.80f, 0.48f, 1.0f},  {-0.62f, 0.55f, 0.55f, 0.9f}, {0.70f, 0.15f, 0.70f, 0.8f},
        {-0.30f, 0.25f, 0.92f, 0.9f}, {0.05f, 0.97f, -0.20f, 0.7f}, {-0.80f, -0.10f, -0.58f, 0.6f},
        {0.55f, -0.35f, -0.75f, 0.5f},
    };
    float glow = 0.0f;
    for (const auto& light : lights) {
        float length = std::sqrt(Dot3(light, light));
        float d = std::max(0.0f, Dot3(r, light) / length);
        glow += light[3] * (1.6f * std::pow(d, 900.0f) + 0.3f * std::pow(d, 60.0f));
    }
    return Colour{c.r + glow, c.g + glow * 0.97f, c.b + glow * 0.92f, 1.0f};
}

// A round glow on black: full brightness in the middle, falling smoothly to
// exactly black at `reach` (fraction of the half side).
Canvas MakeGlow(int size, float reach, Colour tint, float core)
{
    Canvas canvas(size, size, Colour{0, 0, 0, 1});
    float half = size * 0.5f;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            float dx = (x + 0.5f - half) / half, dy = (y + 0.5f - half) / half;
            float r = std::sqrt(dx * dx + dy * dy) / reach;
            if (r >= 1.0f) continue;
            float falloff = (1.0f - r * r) * (1.0f - r * r);
            float hot = core * std::exp(-r * r / 0.03f);
            float level = Clamp01(falloff * 0.85f + hot);
            Colour c = Mix(tint, kWhite, hot);
            canvas.At(x, y) = Colour{c.r * level, c.g * level, c.b * level, 1.0f};
        }
    return canvas;
}

}  // namespace

Canvas MakeTitle()
{
    Canvas canvas(256, 256, kClearWhite);
    DrawCrystal(canvas, Point{111, 150}, 60, 11, -24);
    DrawCrystal(canvas, Point{146, 150}, 70, 12, 21);
    DrawCrystal(canvas, Point{128, 154}, 96, 15, 0);

    const float cap = 30.0f, spacing = 0.3f;
    float width = MeasureText("SOLVANE", cap, spacing);
    TextLayout text = LayOutText("SOLVANE", 128.0f - width * 0.5f, 203.0f, cap, spacing);
    StrokeSegments(canvas, text.segments, 2.3f,
                   [](Point p) { return Scale(CrystalColour(p, 256.0f, 6.0f, 5), 0.85f); });

    // A thin rule under the name, fading out to both sides.
    std::vector<Segment> rule = {{{40, 219}, {216, 219}}};
    StrokeSegments(canvas, rule, 0.5f, [](Point p) {
        Colour c = CrystalColour(p, 256.0f, 6.0f, 5);
        c.a = Clamp01(1.0f - std::fabs(p.x - 128.0f) / 88.0f);
        return c;
    });
    return canvas;
}

Canvas MakeCopyright()
{
    Canvas canvas(256, 64, kClearWhite);
    const std::string line = "\u00A9 2026 SOLVANE";
    const float cap = 13.0f, spacing = 0.32f;
    float width = MeasureText(line, cap, spacing);
    TextLayout text = LayOutText(line, 242.0f - width, 44.0f, cap, spacing);
    const Colour ink{0.20f, 0.25f, 0.36f, 1.0f};
    StrokeSegments(canvas, text.segments, 1.05f, [&](Point) { return ink; });
    return canvas;
}

Canvas MakeSphereMap()
{
    Canvas canvas(256, 256, Colour{0, 0, 0, 1});
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            // The picture's disc is the sphere seen from the front; (u, v) = (0.5, 0.5)
            // is a normal facing the viewer. Outside the disc the rim is continued.
            float nx = (x + 0.5f) / 128.0f - 1.0f;
            float ny = 1.0f - (y + 0.5f) / 128.0f;
            float length = std::sqrt(nx * nx + ny * ny);
            if (length > 0.999f) {
                nx *= 0.999f / length;
                ny *= 0.999f / length;
            }
            float nz = std::sqrt(std::max(0.0f, 1.0f - nx * nx - ny * ny));
            // Reflection of the view direction (0, 0, 1) about the normal.
            float reflected[3] = {2.0f * nz * nx, 2.0f * nz * ny, 2.0f * nz * nz - 1.0f};
            canvas.At(x, y) = Environment(reflected);
        }
    return canvas;
}

Canvas MakeWarmLight() { return MakeGlow(64, 1.0f, Colour{1.0f, 0.90f, 0.74f, 1.0f}, 0.35f); }

Canvas MakeCoolLight() { return MakeGlow(64, 0.7f, Colour{0.70f, 0.84f, 1.0f, 1.0f}, 0.45f); }

Canvas MakeGround()
{
    Canvas canvas(256, 256, Colour{0, 0, 0, 1});
    const Colour slate{0.34f, 0.37f, 0.44f, 1.0f};
    const Colour grout{0.16f, 0.17f, 0.21f, 1.0f};
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            // Noise octaves whose periods divide the picture, so it tiles.
            float grain = 0.0f, weight = 0.5f, total = 0.0f;
            for (int period = 4; period <= 64; period *= 2) {
                float cell = 256.0f / period;
                grain += weight * PeriodicNoise(x / cell, y / cell, period, 100u + period);
                total += weight;
                weight *= 0.6f;
            }
            grain /= total;
            int tileX = x / 64, tileY = y / 64;
            float tileTone = 0.9f + 0.2f * Hash2(tileX, tileY, 7);
            Colour c = Scale(slate, tileTone * (0.75f + 0.5f * grain));
            int inX = x % 64, inY = y % 64;
            float edge = std::min({static_cast<float>(inX) + 0.5f, 63.5f - inX, static_cast<float>(inY) + 0.5f,
                                   63.5f - inY});
            c = Mix(grout, c, Clamp01((edge - 0.8f) / 1.2f));
            canvas.At(x, y) = c;
        }
    return canvas;
}

Canvas MakeLogoTexture()
{
    Canvas canvas(128, 128, Colour{0, 0, 0, 1});
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x) {
            Point p{x + 0.5f, y + 0.5f};
            float dx = (p.x - 64.0f) / 64.0f, dy = (p.y - 64.0f) / 64.0f;
            float sparkle = std::exp(-(dx * dx + dy * dy) * 1.5f);
            Colour c = Mix(CrystalColour(p, 128.0f, 10.0f, 23), kWhite, 0.35f * sparkle);
            canvas.At(x, y) = c;
        }
    const float cap = 70.0f;
    float width = MeasureText("S", cap, 0);
    TextLayout letter = LayOutText("S", 64.0f - width * 0.5f, 64.0f + cap * 0.5f, cap, 0);
    StrokeSegments(canvas, letter.segments, 6.0f, [](Point) { return Colour{0.97f, 0.98f, 1.0f, 0.9f}; });
    return canvas;
}

}  // namespace datagen
