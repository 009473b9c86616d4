// The pattern of the generated pictures with its geometry worked out once:
// the distance and direction of every pixel from the centre do not depend
// on the picture's number, so a peer sending a picture every half second
// computes them at its start instead of for every picture.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

class PicturePattern {
public:
    PicturePattern();

    // Fills GeneratedPictureBytes bytes with picture number index, exactly
    // as GeneratePicture does.
    void Fill(int index, std::uint8_t* rgb) const;

private:
    // Per pixel, top row first: the distance from the centre (1 at the
    // middle of an edge), a quarter of it, and the hue's wobble around the
    // centre for each of the three wobble counts (2, 3 and 4 a turn).
    std::vector<double> radius_;
    std::vector<double> quarterRadius_;
    std::array<std::vector<double>, 3> wobble_;
};
