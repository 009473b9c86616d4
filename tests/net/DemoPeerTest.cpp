// The built-in demo peer: an installation's link on the same sockets layer
// connects to it over loopback and receives its generated pictures, paced
// by the clock it is given.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "LoopbackHarness.h"
#include "net/DemoPeer.h"
#include "net/GeneratedPicture.h"
#include "net/NetLink.h"
#include "net/PicturePattern.h"

using namespace nettest;

TEST(DemoPeer, ServesGeneratedPicturesOnLoopbackAtItsInterval)
{
    platform::Sockets sockets;
    platform::ManualClock clock(0xFFFFFF00u);  // just before the wrap
    DemoPeer peer(sockets, clock, 200);
    ASSERT_TRUE(peer.Start());
    ASSERT_NE(peer.Port(), 0);

    TestWindow window;
    TestLoop loop(sockets);
    NetLink link(sockets);
    loop.Route(window, &link);
    ASSERT_TRUE(link.Open(window.Handle(), "127.0.0.1", peer.Port()));
    ASSERT_TRUE(loop.RunUntil([&] {
        peer.Poll();
        return link.OwnId() == 0;
    }));

    // Nothing is sent before the interval has passed.
    std::vector<std::uint8_t> expected(GeneratedPictureBytes);
    for (int i = 0; i < 10; ++i) {
        loop.Pass();
        peer.Poll();
    }
    EXPECT_EQ(peer.PicturesSent(), 0);

    for (int picture = 0; picture < 2; ++picture) {
        clock.Advance(200);
        GeneratePicture(picture, expected.data());
        ASSERT_TRUE(loop.RunUntil([&] {
            peer.Poll();
            return link.HasFrame() && std::memcmp(link.FrameBuffer(), expected.data(), expected.size()) == 0;
        })) << "picture " << picture;
        EXPECT_EQ(peer.PicturesSent(), picture + 1);
    }
}

TEST(DemoPeer, ListensOnLoopbackOnly)
{
    platform::Sockets sockets;
    platform::ManualClock clock;
    DemoPeer peer(sockets, clock);
    ASSERT_TRUE(peer.Start());
    for (SOCKET s : {peer.Server().Tcp().socket, peer.Server().Udp().socket}) {
        SocketAddress bound;
        ASSERT_TRUE(sockets.LocalAddress(s, bound));
        EXPECT_EQ(bound.address, platform::HostToNetwork32(0x7F000001u));
        EXPECT_EQ(PortOf(bound), peer.Port());
    }
}

TEST(GeneratedPicture, NeighboursDiffer)
{
    std::vector<std::uint8_t> first(GeneratedPictureBytes);
    std::vector<std::uint8_t> second(GeneratedPictureBytes);
    GeneratePicture(0, first.data());
    GeneratePicture(1, second.data());
    EXPECT_NE(first, second);
    std::size_t lit = 0;
    for (std::uint8_t v : first) lit += v > 0 ? 1 : 0;
    EXPECT_GT(lit, first.size() / 3) << "a picture worth seeing";
}

namespace {

// The pattern as first defined, every pixel worked out from scratch.
std::vector<std::uint8_t> DirectPicture(int index)
{
    const int side = GeneratedPictureSide;
    std::vector<std::uint8_t> rgb(GeneratedPictureBytes);
    if (index < 0) index = -index;
    const double baseHue = std::fmod(index * 0.381966, 1.0);
    const int rings = 3 + index % 5;
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            const double dx = (x + 0.5) / side - 0.5;
            const double dy = (y + 0.5) / side - 0.5;
            const double radius = std::sqrt(dx * dx + dy * dy) * 2.0;
            const double hue = baseHue + 0.25 * radius + 0.05 * std::sin(std::atan2(dy, dx) * (index % 3 + 2));
            double value = static_cast<int>(radius * rings * 2.0) % 2 == 0 ? 1.0 : 0.55;
            if (radius > 1.0) value *= 0.35;
            const double h = (hue - std::floor(hue)) * 6.0;
            const double c = 1.0 - std::fabs(std::fmod(h, 2.0) - 1.0);
            const double sector[6][3] = {{1, c, 0}, {c, 1, 0}, {0, 1, c}, {0, c, 1}, {c, 0, 1}, {1, 0, c}};
            const int s = std::min(static_cast<int>(h), 5);
            std::uint8_t* out = rgb.data() + (static_cast<std::size_t>(y) * side + x) * 3;
            for (int k = 0; k < 3; ++k) out[k] = static_cast<std::uint8_t>(std::lround(sector[s][k] * value * 255.0));
        }
    }
    return rgb;
}

}  // namespace

// Every band count and wobble, and a negative number: the pattern worked
// out once gives the very bytes of the pattern worked out per pixel.
TEST(GeneratedPicture, EveryByteMatchesThePatternWorkedOutPerPixel)
{
    PicturePattern pattern;
    std::vector<std::uint8_t> kept(GeneratedPictureBytes);
    std::vector<std::uint8_t> single(GeneratedPictureBytes);
    for (int index : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 1001, -7}) {
        pattern.Fill(index, kept.data());
        GeneratePicture(index, single.data());
        const std::vector<std::uint8_t> expected = DirectPicture(index);
        EXPECT_EQ(kept, expected) << "picture " << index;
        EXPECT_EQ(single, expected) << "picture " << index;
    }
}
