// Template bodies of the canvas drawing operations (included by Canvas.h).
#pragma once

#include <algorithm>
#include <cmath>

namespace datagen {

inline float SegmentDistance(Point p, const Segment& s)
{
    float dx = s.b.x - s.a.x, dy = s.b.y - s.a.y;
    float len2 = dx * dx + dy * dy;
    float t = len2 > 0 ? ((p.x - s.a.x) * dx + (p.y - s.a.y) * dy) / len2 : 0.0f;
    t = std::clamp(t, 0.0f, 1.0f);
    float ex = s.a.x + t * dx - p.x, ey = s.a.y + t * dy - p.y;
    return std::sqrt(ex * ex + ey * ey);
}

template <typename Shade>
void StrokeSegments(Canvas& canvas, const std::vector<Segment>& segments, float radius, Shade shade)
{
    if (segments.empty()) return;
    float minX = 1e9f, minY = 1e9f, maxX = -1e9f, maxY = -1e9f;
    for (const Segment& s : segments) {
        minX = std::min({minX, s.a.x, s.b.x});
        maxX = std::max({maxX, s.a.x, s.b.x});
        minY = std::min({minY, s.a.y, s.b.y});
        maxY = std::max({maxY, s.a.y, s.b.y});
    }
    int x0 = std::max(0, static_cast<int>(std::floor(minX - radius - 2)));
    int x1 = std::min(canvas.Width() - 1, static_cast<int>(std::ceil(maxX + radius + 2)));
    int y0 = std::max(0, static_cast<int>(std::floor(minY - radius - 2)));
    int y1 = std::min(canvas.Height() - 1, static_cast<int>(std::ceil(maxY + radius + 2)));
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
            Point p{x + 0.5f, y + 0.5f};
            float d = 1e9f;
            for (const Segment& s : segments) d = std::min(d, SegmentDistance(p, s));
            float coverage = Clamp01(radius + 0.5f - d);
            if (coverage > 0) canvas.Blend(x, y, shade(p), coverage);
        }
    }
}

inline bool InsidePolygon(const std::vector<Point>& polygon, Point p)
{
    bool inside = false;
    for (size_t i = 0, j = polygon.size() - 1; i < polygon.size(); j = i++) {
        const Point& a = polygon[i];
        const Point& b = polygon[j];
        if ((a.y > p.y) != (b.y > p.y) && p.x < (b.x - a.x) * (p.y - a.y) / (b.y - a.y) + a.x) inside = !inside;
    }
    return inside;
}

template <typename Shade>
void FillPolygon(Canvas& canvas, const std::vector<Point>& polygon, Shade shade)
{
    if (polygon.size() < 3) return;
    float minX = 1e9f, minY = 1e9f, maxX = -1e9f, maxY = -1e9f;
    for (const Point& q : polygon) {
        minX = std::min(minX, q.x);
        maxX = std::max(maxX, q.x);
        minY = std::min(minY, q.y);
        maxY = std::max(maxY, q.y);
    }
    int x0 = std::max(0, static_cast<int>(std::floor(minX)));
    int x1 = std::min(canvas.Width() - 1, static_cast<int>(std::ceil(maxX)));
    int y0 = std::max(0, static_cast<int>(std::floor(minY)));
    int y1 = std::min(canvas.Height() - 1, static_cast<int>(std::ceil(maxY)));
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
            int hits = 0;
            for (int sy = 0; sy < 4; ++sy)
                for (int sx = 0; sx < 4; ++sx)
                    if (InsidePolygon(polygon, Point{x + (sx + 0.5f) / 4, y + (sy + 0.5f) / 4})) ++hits;
            if (hits > 0) canvas.Blend(x, y, shade(Point{x + 0.5f, y + 0.5f}), hits / 16.0f);
        }
    }
}

}  // namespace datagen
