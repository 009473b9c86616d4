// The installation keeps its peer: a peer that goes away and comes back is
// registered with again, the pauses between tries grow to at most 30 s, the
// outage is logged once, and the link's state is there for the operator.
// Also the link over IPv6. All on loopback, with a clock the test moves.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "LoopbackHarness.h"
#include "common/Log.h"
#include "net/NetLink.h"

using namespace nettest;

namespace {

int CountLogLines(const std::string& text)
{
    auto lines = RecentLogLines(200);
    return static_cast<int>(
        std::count_if(lines.begin(), lines.end(), [&](const std::string& line) { return line.find(text) != std::string::npos; }));
}

// A peer that can be destroyed and made again; its window outlives it,
// since the loop keeps the windows it was given.
struct Peer {
    PeerServer link;
    Peer(platform::Sockets& sockets, TestLoop& loop, TestWindow& window, platform::Clock& clock, int port)
        : link(sockets)
    {
        link.UseClock(clock);
        link.SetListenAddress(platform::HostToNetwork32(0x7F000001u));
        loop.Route(window, &link);
        link.Open(window.Handle(), port);
    }
};

}  // namespace

TEST(LinkRecovery, ARestartedPeerIsRegisteredWithAgainAndPicturesResume)
{
    platform::Sockets sockets;
    platform::ManualClock clock(1000);
    TestLoop loop(sockets);
    TestWindow peerWindows[2];
    auto peer = std::make_unique<Peer>(sockets, loop, peerWindows[0], clock, 0);
    const int port = LocalPort(sockets, peer->link.Tcp().socket);
    ASSERT_GT(port, 0);

    TestWindow window;
    NetLink installation(sockets);
    installation.UseClock(clock);
    loop.Route(window, &installation);
    ASSERT_TRUE(installation.Open(window.Handle(), "127.0.0.1", port));
    ASSERT_TRUE(loop.RunUntil([&] { return peer->link.Peer(0).address.family != 0; }));
    EXPECT_EQ(installation.Status().state, LinkState::Connected);
    const std::string lost = "lost the peer 127.0.0.1:" + std::to_string(port);
    const int lostBefore = CountLogLines(lost);
    const std::string back = "the peer 127.0.0.1:" + std::to_string(port) + " is back";
    const int backBefore = CountLogLines(back);

    // The peer goes away.
    loop.Unroute(&peer->link);
    peer.reset();
    ASSERT_TRUE(loop.RunUntil([&] { return installation.State() == LinkState::Lost; }));
    EXPECT_EQ(installation.Peer(0).socket, 0u);
    // Tries while it is away fail quietly.
    for (int i = 0; i < 3; ++i) {
        clock.Advance(PeerLink::LongestRetryMs);
        installation.Update();
        loop.RunFor(30);
    }
    EXPECT_EQ(installation.State(), LinkState::Lost);
    EXPECT_EQ(CountLogLines(lost), lostBefore + 1) << "the loss is told once";

    // It comes back on the same port; the next try finds it.
    peer = std::make_unique<Peer>(sockets, loop, peerWindows[1], clock, port);
    ASSERT_NE(peer->link.Tcp().socket, 0u);
    clock.Advance(PeerLink::LongestRetryMs);
    installation.Update();
    ASSERT_TRUE(loop.RunUntil([&] { return peer->link.Peer(0).address.family != 0; }));
    EXPECT_EQ(installation.State(), LinkState::Connected);
    EXPECT_EQ(CountLogLines(back), backBefore + 1) << "the return is told once";

    const Bytes picture = Filled(NetLink::FrameSize, 0x21);
    peer->link.SendToPeers(picture.data(), static_cast<int>(picture.size()));
    ASSERT_TRUE(loop.RunUntil([&] {
        return installation.HasFrame() && std::memcmp(installation.FrameBuffer(), picture.data(), picture.size()) == 0;
    }));
}

TEST(LinkRecovery, PausesBetweenTriesDoubleFromOneSecondUpToThirty)
{
    platform::Sockets sockets;
    platform::ManualClock clock(0xFFFFF000u);  // across the clock's wrap
    TestLoop loop(sockets);
    // A bound stream socket that does not listen: every try is refused.
    SOCKET closed = sockets.socket(platform::SocketType::Stream);
    ASSERT_EQ(sockets.bind(closed, Loopback(0)), 0);
    TestWindow window;
    NetLink installation(sockets);
    installation.UseClock(clock);
    loop.Route(window, &installation);
    ASSERT_TRUE(installation.Open(window.Handle(), "127.0.0.1", LocalPort(sockets, closed)));

    std::vector<DWORD> tries{0};
    DWORD elapsed = 0;
    while (tries.size() < 9 && elapsed < 200000) {
        // Each try is refused before the time moves on.
        ASSERT_TRUE(loop.RunUntil([&] { return installation.Peer(0).socket == 0; }));
        clock.Advance(100);
        elapsed += 100;
        installation.Update();
        if (installation.Peer(0).socket != 0) tries.push_back(elapsed);
    }
    std::vector<DWORD> pauses;
    for (std::size_t i = 1; i < tries.size(); ++i) pauses.push_back(tries[i] - tries[i - 1]);
    EXPECT_EQ(pauses, (std::vector<DWORD>{1000, 2000, 4000, 8000, 16000, 30000, 30000, 30000}));
    EXPECT_EQ(installation.State(), LinkState::Connecting) << "never reached, so not lost";
}

TEST(LinkRecovery, StatusTellsStateAddressLastContactAndPictures)
{
    platform::Sockets sockets;
    platform::ManualClock clock(500);
    TestLoop loop(sockets);
    NetLink unopened(sockets);
    EXPECT_EQ(unopened.Status().state, LinkState::None);
    EXPECT_EQ(unopened.Status().peer, "");
    EXPECT_EQ(unopened.Status().lastContactSeconds, -1);

    RawServer server(sockets);
    TestWindow window;
    NetLink link(sockets);
    link.UseClock(clock);
    loop.Route(window, &link);
    ASSERT_TRUE(link.Open(window.Handle(), "127.0.0.1", server.Port()));
    LinkStatus status = link.Status();
    EXPECT_EQ(status.state, LinkState::Connecting);
    EXPECT_STREQ(LinkStateName(status.state), "connecting");
    EXPECT_EQ(status.peer, "127.0.0.1:" + std::to_string(server.Port()));
    EXPECT_EQ(status.lastContactSeconds, -1);

    SOCKET connection = server.Accept(loop);
    ASSERT_NE(connection, 0u);
    ASSERT_TRUE(server.Send(connection, Bytes{0xFF, 0xFF, 0x02, 0x00}));
    SocketAddress linkAddress;
    Bytes registration;
    ASSERT_TRUE(server.Receive(loop, registration, &linkAddress));
    EXPECT_EQ(link.Status().state, LinkState::Connected);
    EXPECT_STREQ(LinkStateName(LinkState::Connected), "connected");
    clock.Advance(2500);
    EXPECT_DOUBLE_EQ(link.Status().lastContactSeconds, 2.5);

    const Bytes picture = Filled(NetLink::FrameSize, 0x07);
    for (int i = 0; i < 3; ++i) {
        sockets.sendto(server.Udp(), picture.data(), NetLink::FrameSize, 0, linkAddress);
        ASSERT_TRUE(loop.RunUntil([&] { return link.Status().picturesReceived == static_cast<std::uint64_t>(i + 1); }));
    }
    EXPECT_DOUBLE_EQ(link.Status().lastContactSeconds, 0);

    sockets.shutdown(connection, platform::SD_BOTH);
    ASSERT_TRUE(loop.RunUntil([&] { return link.Status().state == LinkState::Lost; }));
    EXPECT_STREQ(LinkStateName(LinkState::Lost), "lost");
}

TEST(LinkOverIPv6, AnInstallationReachesTheDualStackPeerByEitherFamily)
{
    platform::Sockets sockets;
    SOCKET probe = sockets.socket(platform::SocketType::Datagram, platform::ADDRESS_FAMILY_INET6);
    SocketAddress v6Loopback;
    v6Loopback.family = platform::ADDRESS_FAMILY_INET6;
    v6Loopback.address6[15] = 1;
    if (probe == platform::INVALID_SOCKET || sockets.bind(probe, v6Loopback) != 0) GTEST_SKIP() << "no ::1 here";
    sockets.closesocket(probe);

    TestLoop loop(sockets);
    TestWindow peerWindow;
    PeerServer peer(sockets);  // every interface, both families
    loop.Route(peerWindow, &peer);
    ASSERT_TRUE(peer.Open(peerWindow.Handle(), 0));
    const int port = LocalPort(sockets, peer.Tcp().socket);
    ASSERT_GT(port, 0);

    TestWindow windows[3];
    std::unique_ptr<NetLink> links[3];
    const char* hosts[3] = {"::1", "[::1]", "127.0.0.1"};
    for (int i = 0; i < 3; ++i) {
        links[i] = std::make_unique<NetLink>(sockets);
        loop.Route(windows[i], links[i].get());
        ASSERT_TRUE(links[i]->Open(windows[i].Handle(), hosts[i], port)) << hosts[i];
        ASSERT_TRUE(loop.RunUntil([&] { return peer.Peer(i).address.family != 0; })) << hosts[i];
        EXPECT_EQ(links[i]->State(), LinkState::Connected) << hosts[i];
    }
    EXPECT_EQ(peer.Peer(0).address.family, platform::ADDRESS_FAMILY_INET6);
    EXPECT_EQ(peer.Peer(2).address.family, platform::ADDRESS_FAMILY_INET) << "IPv4 stays IPv4 on a dual-stack socket";
    EXPECT_EQ(platform::FormatAddress(peer.Peer(2).address).rfind("127.0.0.1:", 0), 0u);
    EXPECT_EQ(platform::FormatAddress(peer.Peer(0).address).rfind("[::1]:", 0), 0u);
    EXPECT_EQ(links[1]->Status().peer, "[::1]:" + std::to_string(port));

    const Bytes picture = Filled(NetLink::FrameSize, 0x66);
    peer.SendToPeers(picture.data(), static_cast<int>(picture.size()));
    EXPECT_TRUE(loop.RunUntil([&] {
        for (auto& link : links)
            if (!link->HasFrame() || std::memcmp(link->FrameBuffer(), picture.data(), picture.size()) != 0) return false;
        return true;
    }));
}

// Junk at the peer's port, or a lost datagram, can cost the one registration
// a greeting brings: it goes out again until a picture comes, and a greeted
// link without pictures says so.
TEST(LinkRecovery, TheRegistrationIsSentAgainUntilThePicturesCome)
{
    platform::Sockets sockets;
    TestLoop loop(sockets);
    RawServer server(sockets);
    ASSERT_NE(server.Port(), 0);
    platform::ManualClock clock(5000);
    TestWindow window;
    NetLink installation(sockets);
    installation.UseClock(clock);
    loop.Route(window, &installation);
    ASSERT_TRUE(installation.Open(window.Handle(), "127.0.0.1", server.Port()));
    SOCKET connection = server.Accept(loop);
    ASSERT_NE(connection, 0u);
    ASSERT_TRUE(server.Send(connection, {0xFF, 0xFF, 0x03, 0x00}));
    ASSERT_TRUE(loop.RunUntil([&] { return installation.State() == LinkState::Connected; }));

    Bytes registration;
    SocketAddress from;
    ASSERT_TRUE(server.Receive(loop, registration, &from)) << "the first registration (lost here)";
    const Bytes expected{0xFE, 0xFF, 0x03, 0x00};
    EXPECT_EQ(registration, expected);
    clock.Advance(NetLink::RegistrationResendMs - 1);
    installation.Poll();
    EXPECT_FALSE(server.Receive(loop, registration, nullptr, 100)) << "not before the pause";
    for (int again = 1; again <= 4; ++again) {
        clock.Advance(again == 1 ? 1 : NetLink::RegistrationResendMs);
        installation.Poll();
        ASSERT_TRUE(server.Receive(loop, registration, &from)) << "registration " << again + 1;
        EXPECT_EQ(registration, expected);
    }
    EXPECT_FALSE(installation.Status().noPictures) << "8 s after the greeting";
    const std::uint64_t warningsBefore = CountedLogProblems().warnings;
    clock.Advance(NetLink::NoPictureWarningMs - 4 * NetLink::RegistrationResendMs);
    installation.Poll();
    EXPECT_TRUE(installation.Status().noPictures);
    EXPECT_EQ(CountedLogProblems().warnings, warningsBefore + 1) << "one warning";
    installation.Poll();
    EXPECT_EQ(CountedLogProblems().warnings, warningsBefore + 1) << "and only one";

    Bytes picture(NetLink::FrameSize, 0x40);
    ASSERT_EQ(sockets.sendto(server.Udp(), picture.data(), static_cast<int>(picture.size()), 0, from),
              NetLink::FrameSize);
    ASSERT_TRUE(loop.RunUntil([&] { return installation.HasFrame(); }));
    EXPECT_FALSE(installation.Status().noPictures);
    while (server.Receive(loop, registration, nullptr, 50)) {
    }
    clock.Advance(3 * NetLink::RegistrationResendMs);
    installation.Poll();
    EXPECT_FALSE(server.Receive(loop, registration, nullptr, 200)) << "no registrations once pictures come";
}
