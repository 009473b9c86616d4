// The picture reader: headers that claim huge pictures or pixel data past the
// end of the file are refused before anything is allocated for them.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include <zlib.h>

#include "platform/files/ImageFile.h"
#include "support/LittleEndian.h"

namespace {

// A 24-bit BMP whose headers say what the test wants; `pixelBytes` bytes of
// pixels really follow.
std::vector<std::uint8_t> MakeBmp(std::int32_t width, std::int32_t height, std::uint32_t pixelOffset,
                                  std::size_t pixelBytes, unsigned bits = 24)
{
    std::vector<std::uint8_t> out = {'B', 'M'};
    Put32(out, static_cast<std::uint32_t>(54 + pixelBytes));
    Put32(out, 0);
    Put32(out, pixelOffset);
    Put32(out, 40);
    Put32(out, static_cast<std::uint32_t>(width));
    Put32(out, static_cast<std::uint32_t>(height));
    Put16(out, 1);
    Put16(out, bits);
    Put32(out, 0);
    Put32(out, static_cast<std::uint32_t>(pixelBytes));
    Put32(out, 2835);
    Put32(out, 2835);
    Put32(out, 0);
    Put32(out, 0);
    out.resize(out.size() + pixelBytes, 0x7F);
    return out;
}

void PutBig32(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    for (int i = 3; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void PutChunk(std::vector<std::uint8_t>& out, const char* type, const std::vector<std::uint8_t>& data)
{
    PutBig32(out, static_cast<std::uint32_t>(data.size()));
    std::vector<std::uint8_t> crcInput(type, type + 4);
    crcInput.insert(crcInput.end(), data.begin(), data.end());
    out.insert(out.end(), crcInput.begin(), crcInput.end());
    PutBig32(out, static_cast<std::uint32_t>(crc32(0, crcInput.data(), static_cast<uInt>(crcInput.size()))));
}

// A grey PNG of the claimed size whose rows are all zero (they compress to
// almost nothing, so a huge claim fits in a small file).
std::vector<std::uint8_t> MakePng(std::uint32_t width, std::uint32_t height, std::uint32_t realRows)
{
    std::vector<std::uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<std::uint8_t> header;
    PutBig32(header, width);
    PutBig32(header, height);
    header.insert(header.end(), {8, 0, 0, 0, 0});
    PutChunk(out, "IHDR", header);
    std::vector<std::uint8_t> raw(static_cast<std::size_t>(realRows) * (width + 1), 0);
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::vector<std::uint8_t> packed(packedSize);
    compress(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()));
    packed.resize(packedSize);
    PutChunk(out, "IDAT", packed);
    PutChunk(out, "IEND", {});
    return out;
}

struct Decoded {
    bool ok = false;
    unsigned width = 0, height = 0;
    std::vector<std::uint8_t> pixels;
    std::string error;
};

// Decodes `bytes` with width and height set to `sizeBefore` beforehand.
Decoded Decode(const std::vector<std::uint8_t>& bytes, platform::PixelLayout layout, unsigned sizeBefore)
{
    Decoded d;
    d.width = d.height = sizeBefore;
    d.ok = platform::DecodeImage(bytes.data(), bytes.size(), layout, d.width, d.height, d.pixels, &d.error);
    return d;
}

TEST(ImageFile, RefusesHostileHeadersBeforeDecoding)
{
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        const char* reason;
    };
    const Case cases[] = {
        // 156 bytes of pixels behind a header claiming 100 000 x 100 000: once
        // 10.5 GB and 28 s before the refusal.
        {"BMP claiming 100000 x 100000", MakeBmp(100000, 100000, 54, 156), "picture size 100000 x 100000"},
        {"BMP 4097 wide", MakeBmp(4097, 1, 54, 12292), "picture size 4097 x 1"},
        {"BMP top-down 1 x -5000", MakeBmp(1, -5000, 54, 20000), "picture size 1 x 5000"},
        {"BMP pixel offset past the end", MakeBmp(2, 2, 0xFFFFFF00u, 16), "pixel data at byte 4294967040"},
        {"BMP rows past the end", MakeBmp(64, 64, 54, 100), "pixel data of 12288 bytes"},
        {"BMP 7 bits per pixel", MakeBmp(2, 2, 54, 16, 7), "7 bits per pixel"},
        {"PNG claiming 100000 x 100000", MakePng(100000, 100000, 1), "picture size 100000 x 100000"},
        {"PNG 1 x 4097", MakePng(1, 4097, 4097), "picture size 1 x 4097"},
        {"neither PNG nor BMP", {'G', 'I', 'F', '8', '9', 'a'}, "not a PNG or BMP picture"},
    };
    for (const Case& c : cases) {
        // Sizes left over from an earlier picture must not survive a refusal.
        const Decoded d = Decode(c.bytes, platform::PixelLayout::Rgb, 1);
        EXPECT_FALSE(d.ok) << c.name;
        EXPECT_NE(d.error.find(c.reason), std::string::npos) << c.name << ": " << d.error;
        EXPECT_TRUE(d.pixels.empty()) << c.name;
        EXPECT_EQ(d.width, 0u) << c.name;
    }
}

TEST(ImageFile, PicturesAtTheSizeLimitAreRead)
{
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        unsigned width, height;
    };
    const Case cases[] = {
        {"BMP 4096 x 1", MakeBmp(4096, 1, 54, 4096 * 3), 4096, 1},
        {"BMP 3 x 2 bottom-up", MakeBmp(3, 2, 54, 24), 3, 2},
        {"PNG 1 x 4096", MakePng(1, 4096, 4096), 1, 4096},
    };
    for (const Case& c : cases) {
        const Decoded d = Decode(c.bytes, platform::PixelLayout::Bgra, 0);
        ASSERT_TRUE(d.ok) << c.name << ": " << d.error;
        EXPECT_EQ(d.width, c.width) << c.name;
        EXPECT_EQ(d.height, c.height) << c.name;
        EXPECT_EQ(d.pixels.size(), std::size_t{c.width} * c.height * 4) << c.name;
    }
}

TEST(ImageFile, AMissingFileIsCalledMissing)
{
    std::string error;
    EXPECT_FALSE(platform::CheckImageFile("/nonexistent/light1.bmp", &error));
    EXPECT_EQ(error, "missing");
}

}  // namespace
