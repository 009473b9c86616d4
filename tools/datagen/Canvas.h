// A small floating-point RGBA canvas for the data-file generator, with the
// few drawing operations the artwork needs (anti-aliased strokes, filled
// polygons, "over" compositing) and writers for 24-bit BMP and RGBA PNG.
//
// Everything is deterministic: the same program writes the same bytes, so the
// committed data files can be checked against a fresh run.
#pragma once

#include <string>
#include <vector>

namespace datagen {

struct Colour {
    float r = 0, g = 0, b = 0, a = 0;  // 0..1, not premultiplied
};

struct Point {
    float x = 0, y = 0;
};

class Canvas {
public:
    Canvas(int width, int height, Colour fill);

    int Width() const { return width_; }
    int Height() const { return height_; }

    Colour& At(int x, int y) { return pixels_[static_cast<size_t>(y) * width_ + x]; }
    const Colour& At(int x, int y) const { return pixels_[static_cast<size_t>(y) * width_ + x]; }

    // Composites `colour` over the pixel with the given coverage (0..1).
    void Blend(int x, int y, Colour colour, float coverage);

    // Writes 24-bit uncompressed BMP (alpha dropped). False on I/O failure.
    bool WriteBmp(const std::string& path) const;
    // Writes 8-bit RGBA PNG through libpng. False on failure.
    bool WritePng(const std::string& path) const;

private:
    int width_;
    int height_;
    std::vector<Colour> pixels_;
};

// An anti-aliased polyline set: every pixel within `radius` of a segment is
// covered, with a one-pixel soft edge. `shade` picks each pixel's colour.
struct Segment {
    Point a, b;
};

template <typename Shade>
void StrokeSegments(Canvas& canvas, const std::vector<Segment>& segments, float radius, Shade shade);

// Fills a polygon (any winding, even-odd rule) with 4x4 supersampling.
template <typename Shade>
void FillPolygon(Canvas& canvas, const std::vector<Point>& polygon, Shade shade);

float Clamp01(float v);
Colour Mix(Colour a, Colour b, float t);
// Deterministic hash noise in 0..1 for integer lattice points.
float Hash2(int x, int y, unsigned seed);
// Smooth value noise that repeats every `period` lattice cells in x and y.
float PeriodicNoise(float x, float y, int period, unsigned seed);

}  // namespace datagen

#include "tools/datagen/CanvasDraw.inl"
