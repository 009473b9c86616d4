// The pictures solvane-peer sends: the PNG and BMP files of a folder,
// stretched to 128x128, or a set of generated ones. Each picture is the
// 49152 bytes of one datagram: 128 rows of 128 RGB pixels, top row first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct PeerPicture {
    std::string name;
    std::vector<std::uint8_t> rgb;  // PictureBytes bytes
};

class PictureSource {
public:
    static constexpr int Side = 128;
    static constexpr std::size_t PictureBytes = static_cast<std::size_t>(Side) * Side * 3;

    // Every readable PNG and BMP file of the folder, in name order; files
    // that cannot be read are skipped with a message. False with a reason
    // when the folder cannot be listed or holds no readable picture.
    bool LoadFolder(const std::string& folder, std::string& error);
    void UseGenerated(int count);

    std::size_t Count() const { return pictures_.size(); }
    const PeerPicture& At(std::size_t index) const { return pictures_[index]; }
    // The pictures in turn, starting over after the last.
    const PeerPicture& Next();

private:
    std::vector<PeerPicture> pictures_;
    std::size_t next_ = 0;
};

// Stretches width x height RGB pixels to side x side, each target pixel the
// average of the source pixels it covers.
std::vector<std::uint8_t> ScaleRgb(const std::uint8_t* rgb, unsigned width, unsigned height, int side);

// Generated picture number index (see net/GeneratedPicture.h).
std::vector<std::uint8_t> GeneratedPicture(int index);
