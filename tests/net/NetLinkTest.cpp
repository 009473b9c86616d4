// The installation's side of the link over loopback: the handshake with a
// peer played byte for byte, picture reception, and survival of bad input.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <thread>

#include "LoopbackHarness.h"
#include "net/NetLink.h"

using namespace nettest;

namespace {

class NetLinkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(server.Port(), 0);
        link = std::make_unique<NetLink>(sockets);
        loop.Route(window, link.get());
        ASSERT_TRUE(link->Open(window.Handle(), "127.0.0.1", server.Port()));
        connection = server.Accept(loop);
        ASSERT_NE(connection, 0u);
    }

    // Greets the link and returns the Registration it answers with.
    Bytes Greet(std::int16_t id, SocketAddress* from = nullptr)
    {
        Bytes greeting{0xFF, 0xFF, static_cast<std::uint8_t>(id & 0xFF), static_cast<std::uint8_t>((id >> 8) & 0xFF)};
        EXPECT_TRUE(server.Send(connection, greeting));
        Bytes registration;
        EXPECT_TRUE(server.Receive(loop, registration, from));
        return registration;
    }

    // Sends a datagram to the link's UDP address.
    void SendToLink(const Bytes& bytes)
    {
        sockets.sendto(server.Udp(), bytes.data(), static_cast<int>(bytes.size()), 0, linkAddress);
    }

    bool FrameEquals(const Bytes& expected) const
    {
        return link->HasFrame() && std::memcmp(link->FrameBuffer(), expected.data(), NetLink::FrameSize) == 0;
    }

    platform::Sockets sockets;
    TestWindow window;
    TestLoop loop{sockets};
    RawServer server{sockets};
    std::unique_ptr<NetLink> link;
    SOCKET connection = 0;
    SocketAddress linkAddress;
};

}  // namespace

TEST_F(NetLinkTest, GreetingIsAnsweredWithExactlyOneRegistration)
{
    EXPECT_EQ(link->OwnId(), -1);
    SocketAddress from;
    EXPECT_EQ(Greet(3, &from), (Bytes{0xFE, 0xFF, 0x03, 0x00}));
    EXPECT_EQ(link->OwnId(), 3);
    // The Registration comes from the link's own UDP socket, so pictures
    // sent back to that address reach it.
    EXPECT_EQ(PortOf(from), LocalPort(sockets, link->Udp().socket));
    loop.RunFor(50);
    Bytes extra;
    EXPECT_FALSE(server.Receive(loop, extra, nullptr, 50)) << "one Greeting, one Registration";
}

TEST_F(NetLinkTest, ReadsAreJudgedByTheirOwnFirstWord)
{
    ASSERT_EQ(Greet(5), (Bytes{0xFE, 0xFF, 0x05, 0x00}));

    // A read that starts with another word is ignored, whatever follows.
    ASSERT_TRUE(server.Send(connection, Bytes{0x01, 0x00, 0xFF, 0xFF, 0x07, 0x00, 0x00, 0x00}));
    Bytes nothing;
    EXPECT_FALSE(server.Receive(loop, nothing, nullptr, 150));
    EXPECT_EQ(link->OwnId(), 5);

    // Eight bytes that begin with a Greeting count as one.
    ASSERT_TRUE(server.Send(connection, Bytes{0xFF, 0xFF, 0x03, 0x00, 0xAA, 0xBB, 0xCC, 0xDD}));
    Bytes registration;
    ASSERT_TRUE(server.Receive(loop, registration));
    EXPECT_EQ(registration, (Bytes{0xFE, 0xFF, 0x03, 0x00}));

    // A repeated Greeting registers again.
    EXPECT_EQ(Greet(3), (Bytes{0xFE, 0xFF, 0x03, 0x00}));
    EXPECT_EQ(link->OwnId(), 3);
}

TEST_F(NetLinkTest, ShortReadsDoNotReuseAnEarlierGreeting)
{
    ASSERT_EQ(Greet(4).size(), 4u);
    // Two bytes FF FF alone: the rest of the buffer still holds the last
    // Greeting, which must not be answered again.
    ASSERT_TRUE(server.Send(connection, Bytes{0xFF, 0xFF}));
    Bytes nothing;
    EXPECT_FALSE(server.Receive(loop, nothing, nullptr, 150));
}

TEST_F(NetLinkTest, AGreetingSplitAcrossReadsIsRecognised)
{
    // FF FF then 03 00: once never answered.
    ASSERT_TRUE(server.Send(connection, Bytes{0xFF, 0xFF}));
    Bytes nothing;
    EXPECT_FALSE(server.Receive(loop, nothing, nullptr, 100)) << "half a Greeting is not one";
    ASSERT_TRUE(server.Send(connection, Bytes{0x03, 0x00}));
    Bytes registration;
    ASSERT_TRUE(server.Receive(loop, registration));
    EXPECT_EQ(registration, (Bytes{0xFE, 0xFF, 0x03, 0x00}));

    // One byte at a time.
    for (std::uint8_t byte : {0xFF, 0xFF, 0x07, 0x00}) {
        ASSERT_TRUE(server.Send(connection, Bytes{byte}));
        loop.RunFor(20);
    }
    ASSERT_TRUE(server.Receive(loop, registration));
    EXPECT_EQ(registration, (Bytes{0xFE, 0xFF, 0x07, 0x00}));
    EXPECT_EQ(link->OwnId(), 7);
}

TEST_F(NetLinkTest, OnlyDatagramsOfExactlyOnePictureAreTaken)
{
    ASSERT_EQ(Greet(0, &linkAddress).size(), 4u);
    EXPECT_NE(link->FrameBuffer(), nullptr);
    EXPECT_FALSE(link->HasFrame());

    SendToLink(Filled(NetLink::FrameSize - 1, 0x11));
    SendToLink(Filled(NetLink::FrameSize + 1, 0x22));
    loop.RunFor(150);
    EXPECT_FALSE(link->HasFrame());

    const Bytes first = Filled(NetLink::FrameSize, 0x33);
    SendToLink(first);
    ASSERT_TRUE(loop.RunUntil([&] { return link->HasFrame(); }));
    EXPECT_TRUE(FrameEquals(first));

    SendToLink(Filled(NetLink::FrameSize - 1, 0x44));
    SendToLink(Filled(NetLink::FrameSize + 1, 0x55));
    loop.RunFor(150);
    EXPECT_TRUE(FrameEquals(first)) << "wrong sizes leave the last picture";

    const Bytes second = Filled(NetLink::FrameSize, 0x66);
    SendToLink(second);
    ASSERT_TRUE(loop.RunUntil([&] { return FrameEquals(second); }));
}

TEST_F(NetLinkTest, OtherMessagesAndWriteEventsAreIgnored)
{
    ASSERT_EQ(Greet(1, &linkAddress).size(), 4u);
    // From here on the test hands messages over itself; the loop stays idle.
    const SOCKET udp = link->Udp().socket;
    SendToLink(Filled(NetLink::FrameSize, 0x77));
    HWND h = window.Handle();
    EXPECT_FALSE(link->HandleMessage(h, WM_NET_UDP + 1, udp, FD_READ));
    EXPECT_FALSE(link->HandleMessage(h, WM_NET_TCP - 1, udp, FD_READ));
    EXPECT_FALSE(link->HandleMessage(h, WM_USER, udp, FD_READ));
    EXPECT_FALSE(link->HandleMessage(h, WM_NET_UDP, udp, FD_WRITE));
    EXPECT_FALSE(link->HandleMessage(h, WM_NET_UDP, udp, FD_CLOSE));
    EXPECT_FALSE(link->HandleMessage(h, WM_NET_TCP, link->Peer(0).socket, FD_WRITE));
    EXPECT_FALSE(link->HasFrame()) << "the picture is still waiting in the socket";

    for (int i = 0; i < 500 && !link->HasFrame(); ++i) {
        EXPECT_TRUE(link->HandleMessage(h, WM_NET_UDP, udp, FD_READ));
        if (!link->HasFrame()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(link->HasFrame());
}

TEST_F(NetLinkTest, MalformedDatagramsAndFloodsAreSurvived)
{
    ASSERT_EQ(Greet(2, &linkAddress).size(), 4u);
    for (const Bytes& junk : {Bytes{}, Bytes{0xFF}, Bytes{0xFE, 0xFF, 0x02}, Bytes{0xFE, 0xFF, 0x09, 0x00},
                              Bytes{0xFF, 0xFF, 0x01, 0x00}, Filled(1400, 1), Filled(60000, 2), Filled(65507, 3)})
        SendToLink(junk);
    loop.RunFor(100);
    EXPECT_FALSE(link->HasFrame());

    const std::size_t sizes[] = {0, 1, 4, 1400, NetLink::FrameSize - 1, NetLink::FrameSize + 1, 65507};
    for (int burst = 0; burst < 40; ++burst) {
        for (int i = 0; i < 50; ++i) SendToLink(Filled(sizes[(burst + i) % 7], static_cast<std::uint8_t>(i)));
        loop.Pass();
    }
    // The flood over, a picture still comes through (the system may have
    // dropped some of the flood, and may drop a picture sent into a full
    // buffer, so it is offered until taken).
    const Bytes picture = Filled(NetLink::FrameSize, 0x99);
    bool received = false;
    for (int attempt = 0; attempt < 20 && !received; ++attempt) {
        SendToLink(picture);
        received = loop.RunUntil([&] { return FrameEquals(picture); }, 200);
    }
    EXPECT_TRUE(received);
    EXPECT_EQ(link->OwnId(), 2) << "datagrams never act as Greetings";
}

TEST_F(NetLinkTest, PeerClosingFreesSlotZeroAndPicturesStillArrive)
{
    ASSERT_EQ(Greet(6, &linkAddress).size(), 4u);
    sockets.shutdown(connection, platform::SD_BOTH);
    ASSERT_TRUE(loop.RunUntil([&] { return link->Peer(0).socket == 0; }));
    const Bytes picture = Filled(NetLink::FrameSize, 0x42);
    SendToLink(picture);
    EXPECT_TRUE(loop.RunUntil([&] { return FrameEquals(picture); }));
}

TEST(NetLinkStart, UnreachablePeerStillStartsAndStaysSilent)
{
    platform::Sockets sockets;
    TestWindow window;
    TestLoop loop(sockets);
    // A bound stream socket that does not listen: connecting is refused.
    SOCKET closedPort = sockets.socket(platform::SocketType::Stream);
    ASSERT_EQ(sockets.bind(closedPort, Loopback(0)), 0);
    NetLink link(sockets);
    loop.Route(window, &link);
    EXPECT_TRUE(link.Open(window.Handle(), "127.0.0.1", LocalPort(sockets, closedPort)));
    EXPECT_NE(link.FrameBuffer(), nullptr);
    loop.RunFor(200);
    EXPECT_FALSE(link.HasFrame());
    EXPECT_EQ(link.OwnId(), -1);
}

TEST(NetLinkStart, UnresolvableHostOrBadPortStillStarts)
{
    platform::Sockets sockets;
    TestWindow window;
    TestLoop loop(sockets);
    for (const char* host : {"no such host", ""}) {
        NetLink link(sockets);
        loop.Route(window, &link);
        EXPECT_TRUE(link.Open(window.Handle(), host, 47000)) << host;
        EXPECT_EQ(link.Peer(0).socket, 0u);
        EXPECT_EQ(link.Udp().socket, 0u);
        EXPECT_EQ(link.Tcp().error, platform::WSAHOST_NOT_FOUND);
        loop.RunFor(50);
        EXPECT_FALSE(link.HasFrame());
        loop.Unroute(&link);
    }
    for (int port : {-1, 65536}) {
        NetLink link(sockets);
        EXPECT_TRUE(link.Open(window.Handle(), "127.0.0.1", port));
        EXPECT_EQ(link.Peer(0).socket, 0u);
    }
    std::vector<int> fds;
    sockets.CollectWaitDescriptors(fds);
    EXPECT_TRUE(fds.empty()) << "every socket was closed with its link";
}

TEST(NetLinkStart, NothingIsSentBeforeAGreeting)
{
    platform::Sockets sockets;
    TestWindow window;
    TestLoop loop(sockets);
    RawServer server(sockets);
    NetLink link(sockets);
    loop.Route(window, &link);
    ASSERT_TRUE(link.Open(window.Handle(), "127.0.0.1", server.Port()));
    ASSERT_NE(server.Accept(loop), 0u);
    Bytes nothing;
    EXPECT_FALSE(server.Receive(loop, nothing, nullptr, 150));
}
