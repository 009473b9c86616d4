// The built-in demo peer: an installation's link on the same sockets layer
// connects to it over loopback and receives its generated pictures, paced
// by the clock it is given.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "LoopbackHarness.h"
#include "net/DemoPeer.h"
#include "net/GeneratedPicture.h"
#include "net/NetLink.h"

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
    ASSERT_TRUE(link.Open(window.Handle(), LinkMode::Client, "127.0.0.1", peer.Port()));
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
