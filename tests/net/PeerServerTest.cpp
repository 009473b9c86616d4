// The server's side of the link over loopback: eight numbered slots, the
// Registrations that teach it the clients' addresses, and bad input.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>

#include "LoopbackHarness.h"
#include "net/NetLink.h"

using namespace nettest;

namespace {

class ServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        loop.Route(serverWindow, &server);
        ASSERT_TRUE(server.Open(serverWindow.Handle(), 0));
        ASSERT_NE(server.Tcp().socket, 0u);
        ASSERT_NE(server.Udp().socket, 0u);
        port = LocalPort(sockets, server.Tcp().socket);
        ASSERT_EQ(LocalPort(sockets, server.Udp().socket), port) << "datagrams go to the listening port";
    }

    int AddClient()
    {
        int index = static_cast<int>(clients.size());
        clients.push_back(std::make_unique<NetLink>(sockets));
        loop.Route(windows[index], clients.back().get());
        EXPECT_TRUE(clients.back()->Open(windows[index].Handle(), "127.0.0.1", port));
        return index;
    }

    bool Registered(int slot, const NetLink& client)
    {
        const PeerEntry& peer = server.Peer(slot);
        return peer.socket != 0 && peer.address.family != 0 &&
               PortOf(peer.address) == LocalPort(sockets, client.Udp().socket);
    }

    void SendRaw(SOCKET from, const Bytes& bytes)
    {
        sockets.sendto(from, bytes.data(), static_cast<int>(bytes.size()), 0, Loopback(port));
    }

    platform::Sockets sockets;
    TestLoop loop{sockets};
    TestWindow serverWindow;
    PeerServer server{sockets};
    int port = 0;
    std::array<TestWindow, 10> windows;
    std::vector<std::unique_ptr<NetLink>> clients;
};

}  // namespace

TEST_F(ServerTest, EightClientsAreNumberedAndANinthWaitsForAFreeSlot)
{
    for (int i = 0; i < PeerLink::PeerCount; ++i) {
        int index = AddClient();
        ASSERT_TRUE(loop.RunUntil([&] { return clients[index]->OwnId() == i; })) << "client " << i;
        ASSERT_TRUE(loop.RunUntil([&] { return Registered(i, *clients[index]); })) << "client " << i;
    }

    int ninth = AddClient();
    loop.RunFor(250);
    EXPECT_EQ(clients[ninth]->OwnId(), -1) << "all eight slots are taken";
    for (int i = 0; i < PeerLink::PeerCount; ++i) EXPECT_TRUE(Registered(i, *clients[i])) << "slot " << i;

    // Client 3 leaves: its slot, and its number, go to the one that waited.
    loop.Unroute(clients[3].get());
    clients[3].reset();
    ASSERT_TRUE(loop.RunUntil([&] { return clients[ninth]->OwnId() == 3; }));
    ASSERT_TRUE(loop.RunUntil([&] { return Registered(3, *clients[ninth]); }));

    // A picture for everyone reaches every registered client.
    const Bytes picture = Filled(NetLink::FrameSize, 0x5A);
    server.SendToPeers(picture.data(), static_cast<int>(picture.size()));
    EXPECT_TRUE(loop.RunUntil([&] {
        for (const auto& client : clients)
            if (client && !(client->HasFrame() &&
                            std::memcmp(client->FrameBuffer(), picture.data(), picture.size()) == 0))
                return false;
        return true;
    }));
}

TEST_F(ServerTest, ASlotFreedByALeavingClientForgetsItsAddress)
{
    int first = AddClient();
    ASSERT_TRUE(loop.RunUntil([&] { return Registered(0, *clients[first]); }));
    loop.Unroute(clients[first].get());
    clients[first].reset();
    ASSERT_TRUE(loop.RunUntil([&] { return server.Peer(0).socket == 0; }));

    // A raw client takes slot 0 but never registers: nothing is sent to
    // the address of the client that left.
    SOCKET raw = sockets.socket(platform::SocketType::Stream);
    sockets.connect(raw, Loopback(port));
    ASSERT_TRUE(loop.RunUntil([&] { return server.Peer(0).socket != 0; }));
    EXPECT_EQ(server.Peer(0).address.family, 0);
    sockets.closesocket(raw);
}

TEST_F(ServerTest, RegistrationsOutsideTheTableOrWithoutAConnectionAreRefused)
{
    SOCKET raw = sockets.socket(platform::SocketType::Datagram);
    for (const Bytes& registration : {Bytes{0xFE, 0xFF, 0x08, 0x00}, Bytes{0xFE, 0xFF, 0xFF, 0xFF},
                                      Bytes{0xFE, 0xFF, 0x00, 0x80}, Bytes{0xFE, 0xFF, 0xFF, 0x7F},
                                      Bytes{0xFE, 0xFF, 0x07, 0x00}, Bytes{0xFE, 0xFF, 0x00, 0x00}})
        SendRaw(raw, registration);
    loop.RunFor(100);
    for (int i = 0; i < PeerLink::PeerCount; ++i) {
        EXPECT_EQ(server.Peer(i).address.family, 0) << "slot " << i;
        EXPECT_EQ(server.Peer(i).id, i);
    }
    EXPECT_EQ(server.RefusedRegistrations(), 6u);

    // With a connection in slot 0, a datagram from the same machine
    // registers it, whatever its port.
    SOCKET connection = sockets.socket(platform::SocketType::Stream);
    sockets.connect(connection, Loopback(port));
    ASSERT_TRUE(loop.RunUntil([&] { return server.Peer(0).socket != 0; }));
    SendRaw(raw, Bytes{0xFE, 0xFF, 0x00, 0x00});
    ASSERT_TRUE(loop.RunUntil([&] { return server.Peer(0).address.family != 0; }));
    EXPECT_EQ(PortOf(server.Peer(0).address), LocalPort(sockets, raw));
    sockets.closesocket(connection);
    sockets.closesocket(raw);
}

TEST_F(ServerTest, MalformedDatagramsAndFloodsAreSurvived)
{
    SOCKET raw = sockets.socket(platform::SocketType::Datagram);
    for (const Bytes& junk : {Bytes{}, Bytes{0xFE}, Bytes{0xFE, 0xFF}, Bytes{0xFE, 0xFF, 0x01},
                              Bytes{0xFF, 0xFF, 0x01, 0x00}, Filled(NetLink::FrameSize, 1), Filled(65507, 2)})
        SendRaw(raw, junk);
    for (int burst = 0; burst < 40; ++burst) {
        for (int i = 0; i < 50; ++i) SendRaw(raw, Filled(static_cast<std::size_t>((burst * 131 + i * 977) % 65000), 3));
        loop.Pass();
    }
    loop.RunFor(50);
    for (int i = 0; i < PeerLink::PeerCount; ++i) EXPECT_EQ(server.Peer(i).address.family, 0) << "slot " << i;

    // Junk over TCP does not disturb the server either, and a client still
    // gets its number and registers afterwards.
    SOCKET talker = sockets.socket(platform::SocketType::Stream);
    sockets.connect(talker, Loopback(port));
    ASSERT_TRUE(loop.RunUntil([&] { return server.Peer(0).socket != 0; }));
    const Bytes chatter = Filled(4000, 9);
    sockets.send(talker, chatter.data(), static_cast<int>(chatter.size()), 0);
    loop.RunFor(50);
    int index = AddClient();
    ASSERT_TRUE(loop.RunUntil([&] { return clients[index]->OwnId() == 1; }));
    ASSERT_TRUE(loop.RunUntil([&] { return Registered(1, *clients[index]); }));
    sockets.closesocket(talker);
    sockets.closesocket(raw);
}

TEST_F(ServerTest, EventsForForeignSocketsAreIgnored)
{
    SOCKET stranger = sockets.socket(platform::SocketType::Stream);
    HWND h = serverWindow.Handle();
    server.HandleMessage(h, WM_NET_TCP, stranger, FD_ACCEPT);
    server.HandleMessage(h, WM_NET_TCP, stranger, FD_CLOSE);
    server.HandleMessage(h, WM_NET_TCP, 1, FD_READ);
    server.HandleMessage(h, WM_NET_UDP, 1, FD_READ);
    for (int i = 0; i < PeerLink::PeerCount; ++i) EXPECT_EQ(server.Peer(i).socket, 0u);
    EXPECT_NE(server.Tcp().socket, 0u);
    sockets.closesocket(stranger);
}

TEST(ServerStart, APortInUseLeavesTheServerSilentWithTheReason)
{
    platform::Sockets sockets;
    TestWindow window;
    PeerServer first(sockets);
    ASSERT_TRUE(first.Open(window.Handle(), 0));
    int port = LocalPort(sockets, first.Tcp().socket);
    PeerServer second(sockets);
    EXPECT_TRUE(second.Open(window.Handle(), port));
    EXPECT_EQ(second.Tcp().socket, 0u);
    EXPECT_EQ(second.Tcp().error, platform::WSAEADDRINUSE);
    EXPECT_EQ(second.Udp().socket, 0u);
    EXPECT_EQ(second.Udp().error, platform::WSAEADDRINUSE);
}
