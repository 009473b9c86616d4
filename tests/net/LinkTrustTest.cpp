// Whom the link believes, tried the way an attacker on the same network
// would: every hostile packet comes from another machine's address
// (127.0.0.2, or 127.0.0.3 for a third machine whose address is forged),
// while the real peer and installation talk over 127.0.0.1.
#include <gtest/gtest.h>

#include <cstring>

#include "LoopbackHarness.h"
#include "net/NetLink.h"

using namespace nettest;

namespace {

constexpr int kOther = 2;  // 127.0.0.2: the attacker
constexpr int kThird = 3;  // 127.0.0.3: a machine the attacker wants flooded

class LinkTrustTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        peer.UseClock(clock);
        installation.UseClock(clock);
        peer.SetListenAddress(platform::HostToNetwork32(0x7F000001u));
        loop.Route(peerWindow, &peer);
        loop.Route(installationWindow, &installation);
        ASSERT_TRUE(peer.Open(peerWindow.Handle(), 0));
        port = LocalPort(sockets, peer.Tcp().socket);
        ASSERT_GT(port, 0);
    }

    void ConnectInstallation()
    {
        ASSERT_TRUE(installation.Open(installationWindow.Handle(), "127.0.0.1", port));
        ASSERT_TRUE(loop.RunUntil([&] { return Registered(0); }));
        EXPECT_EQ(installation.State(), LinkState::Connected);
    }

    bool Registered(int slot) const { return peer.Peer(slot).socket != 0 && peer.Peer(slot).address.family != 0; }

    bool FrameEquals(const Bytes& picture) const
    {
        return installation.HasFrame() && std::memcmp(installation.FrameBuffer(), picture.data(), picture.size()) == 0;
    }

    void SendFrom(SOCKET s, const Bytes& bytes, const SocketAddress& to)
    {
        sockets.sendto(s, bytes.data(), static_cast<int>(bytes.size()), 0, to);
    }

    // True when a datagram arrives at s within the time.
    bool Receives(SOCKET s, int timeoutMs)
    {
        Bytes buffer(70000);
        return loop.RunUntil(
            [&] { return sockets.recvfrom(s, buffer.data(), static_cast<int>(buffer.size()), 0, nullptr) >= 0; },
            timeoutMs);
    }

    platform::Sockets sockets;
    platform::ManualClock clock{5000};
    TestLoop loop{sockets};
    TestWindow peerWindow;
    TestWindow installationWindow;
    PeerServer peer{sockets};
    NetLink installation{sockets};
    int port = 0;
};

}  // namespace

TEST_F(LinkTrustTest, PicturesFromAnotherAddressAreNotShown)
{
    ConnectInstallation();
    const SocketAddress target = peer.Peer(0).address;  // where the installation takes pictures
    SOCKET attacker = DatagramSocketAt(sockets, kOther);
    const Bytes forged = Filled(NetLink::FrameSize, 0x13);
    for (int i = 0; i < 200; ++i) SendFrom(attacker, forged, target);
    loop.RunFor(150);
    EXPECT_FALSE(installation.HasFrame()) << "a blind sweep of the ports must not reach the screen";
    EXPECT_EQ(installation.Status().picturesReceived, 0u);

    const Bytes real = Filled(NetLink::FrameSize, 0x31);
    peer.SendToPeers(real.data(), static_cast<int>(real.size()));
    ASSERT_TRUE(loop.RunUntil([&] { return FrameEquals(real); }));
    EXPECT_EQ(installation.Status().picturesReceived, 1u);

    // The option for a peer behind NAT takes pictures from anyone again.
    installation.AllowAnySource(true);
    SendFrom(attacker, forged, target);
    EXPECT_TRUE(loop.RunUntil([&] { return FrameEquals(forged); }));
    sockets.closesocket(attacker);
}

TEST_F(LinkTrustTest, ARegistrationFromAnotherAddressDoesNotTakeTheStream)
{
    ConnectInstallation();
    const SocketAddress before = peer.Peer(0).address;
    SOCKET attacker = DatagramSocketAt(sockets, kOther);
    for (int i = 0; i < 20; ++i) SendFrom(attacker, Bytes{0xFE, 0xFF, 0x00, 0x00}, Loopback(port));
    ASSERT_TRUE(loop.RunUntil([&] { return peer.RefusedRegistrations() >= 20; }));
    EXPECT_TRUE(platform::SameHost(peer.Peer(0).address, before));
    EXPECT_EQ(peer.Peer(0).address.port, before.port);

    const Bytes picture = Filled(NetLink::FrameSize, 0x44);
    peer.SendToPeers(picture.data(), static_cast<int>(picture.size()));
    EXPECT_TRUE(loop.RunUntil([&] { return FrameEquals(picture); })) << "the installation keeps its stream";
    EXPECT_FALSE(Receives(attacker, 100)) << "the attacker gets nothing";
    sockets.closesocket(attacker);
}

TEST_F(LinkTrustTest, AForgedSourceCannotAimPicturesAtAThirdMachine)
{
    ConnectInstallation();
    // The attacker takes a slot with a real connection from its own address...
    SOCKET connection = ConnectFrom(sockets, kOther, port);
    ASSERT_TRUE(loop.RunUntil([&] { return peer.Peer(1).socket != 0; }));
    // ...then registers it with the third machine's address as the source
    // (a socket bound there sends what a forged packet would carry).
    SOCKET victim = DatagramSocketAt(sockets, kThird);
    for (int i = 0; i < 5; ++i) SendFrom(victim, Bytes{0xFE, 0xFF, 0x01, 0x00}, Loopback(port));
    ASSERT_TRUE(loop.RunUntil([&] { return peer.RefusedRegistrations() >= 5; }));
    EXPECT_EQ(peer.Peer(1).address.family, 0);

    const Bytes picture = Filled(NetLink::FrameSize, 0x55);
    for (int i = 0; i < 5; ++i) peer.SendToPeers(picture.data(), static_cast<int>(picture.size()));
    EXPECT_FALSE(Receives(victim, 150)) << "no picture goes to the third machine";
    EXPECT_TRUE(loop.RunUntil([&] { return FrameEquals(picture); })) << "the real installation still gets them";

    // From its own address the attacker may register: it only sends
    // pictures to itself.
    SOCKET own = DatagramSocketAt(sockets, kOther);
    SendFrom(own, Bytes{0xFE, 0xFF, 0x01, 0x00}, Loopback(port));
    EXPECT_TRUE(loop.RunUntil([&] { return Registered(1); }));
    for (SOCKET s : {connection, victim, own}) sockets.closesocket(s);
}

TEST_F(LinkTrustTest, IdleConnectionsLoseTheirSlotsAfterTenSeconds)
{
    // One after the other: the listening queue holds one waiting connection.
    std::vector<SOCKET> idle;
    for (int i = 0; i < PeerLink::PeerCount; ++i) {
        idle.push_back(ConnectFrom(sockets, kOther, port));
        ASSERT_TRUE(loop.RunUntil([&] { return peer.Peer(i).socket != 0; })) << "connection " << i;
    }
    ASSERT_TRUE(installation.Open(installationWindow.Handle(), "127.0.0.1", port));
    loop.RunFor(150);
    EXPECT_EQ(installation.OwnId(), -1) << "every slot is held";

    clock.Advance(PeerServer::RegistrationTimeoutMs - 1);
    peer.Update();
    loop.RunFor(50);
    EXPECT_EQ(installation.OwnId(), -1) << "not before ten seconds";

    clock.Advance(1);
    peer.Update();
    ASSERT_TRUE(loop.RunUntil([&] { return installation.State() == LinkState::Connected; }));
    EXPECT_TRUE(loop.RunUntil([&] { return Registered(installation.OwnId()); }));
    // The idle connections were closed, not just forgotten.
    std::uint8_t byte[8];
    int ended = 0;
    loop.RunUntil([&] {
        ended = 0;
        for (SOCKET s : idle) {
            int got = sockets.recv(s, byte, sizeof byte, 0);
            ended += got == 0 || (got > 0 && sockets.recv(s, byte, sizeof byte, 0) == 0) ? 1 : 0;
        }
        return ended == PeerLink::PeerCount;
    });
    EXPECT_EQ(ended, PeerLink::PeerCount);
    // A registered installation is never timed out.
    clock.Advance(60000);
    peer.Update();
    loop.RunFor(50);
    EXPECT_EQ(installation.State(), LinkState::Connected);
    for (SOCKET s : idle) sockets.closesocket(s);
}

TEST(RegistrationSlot, NeedsTheMarkerASlotWithAConnectionAndItsAddress)
{
    PeerEntry peers[PeerLink::PeerCount];
    for (int i = 0; i < PeerLink::PeerCount; ++i) peers[i].id = i;
    peers[2].socket = 7;
    peers[2].connectedFrom = Loopback(5000);
    const SocketAddress same = Loopback(6000);   // same machine, another port: fine
    const SocketAddress other = Loopback(6000, kOther);
    const std::uint8_t good[] = {0xFE, 0xFF, 0x02, 0x00, 0x99};
    EXPECT_EQ(RegistrationSlot(good, 4, same, peers), 2);
    EXPECT_EQ(RegistrationSlot(good, 5, same, peers), 2);
    EXPECT_EQ(RegistrationSlot(good, 3, same, peers), -1);
    EXPECT_EQ(RegistrationSlot(good, 4, other, peers), -1);
    const std::uint8_t unconnected[] = {0xFE, 0xFF, 0x03, 0x00};
    EXPECT_EQ(RegistrationSlot(unconnected, 4, same, peers), -1);
    const std::uint8_t greeting[] = {0xFF, 0xFF, 0x02, 0x00};
    EXPECT_EQ(RegistrationSlot(greeting, 4, same, peers), -1);
    for (std::uint8_t high : {0x00, 0x80, 0xFF}) {
        const std::uint8_t outside[] = {0xFE, 0xFF, static_cast<std::uint8_t>(high == 0 ? 8 : 2), high};
        EXPECT_EQ(RegistrationSlot(outside, 4, same, peers), -1);
    }
    EXPECT_EQ(RegistrationSlot(nullptr, 4, same, peers), -1);
}
