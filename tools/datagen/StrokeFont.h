// The generator's own stroke font: capital letters, digits and the
// copyright sign drawn as polylines in a cell whose cap height is 1.
// Only the characters the artwork uses are defined.
#pragma once

#include <string>
#include <vector>

#include "tools/datagen/Canvas.h"

namespace datagen {

struct TextLayout {
    std::vector<Segment> segments;  // in pixels, y downwards
    float width = 0;                // advance of the whole line in pixels
};

// Lays out `text` with its baseline at (x, baseline) and the given cap
// height and extra spacing between letters (fraction of the cap height).
// Characters without a glyph are reported on stderr and skipped.
TextLayout LayOutText(const std::string& text, float x, float baseline, float capHeight, float spacing);

// Width in pixels that LayOutText would give the same text.
float MeasureText(const std::string& text, float capHeight, float spacing);

}  // namespace datagen
