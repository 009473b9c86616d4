// The Winsock stand-in: its calls over loopback and the notifications it
// posts, with Winsock's re-enabling rules.
#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>

#include "LoopbackHarness.h"

using namespace nettest;
using platform::SocketType;

namespace {

std::vector<MSG> Drain(TestWindow& window)
{
    std::vector<MSG> messages;
    MSG msg;
    while (window.queue.Get(msg)) messages.push_back(msg);
    return messages;
}

// Polls until at least one message arrives (bounded), then drains.
std::vector<MSG> PollFor(platform::Sockets& sockets, TestWindow& window, int timeoutMs = 2000)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (window.queue.Size() == 0 && std::chrono::steady_clock::now() < deadline) {
        sockets.Poll();
        if (window.queue.Size() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return Drain(window);
}

struct UdpPair {
    platform::Sockets& sockets;
    SOCKET receiver;
    SOCKET sender;
    int port;
    explicit UdpPair(platform::Sockets& s) : sockets(s)
    {
        receiver = sockets.socket(SocketType::Datagram);
        sender = sockets.socket(SocketType::Datagram);
        sockets.bind(receiver, Loopback(0));
        port = LocalPort(sockets, receiver);
    }
    void Send(const Bytes& bytes)
    {
        sockets.sendto(sender, bytes.data(), static_cast<int>(bytes.size()), 0, Loopback(port));
    }
};

}  // namespace

TEST(Sockets, OneReadNotificationPerReceive)
{
    platform::Sockets sockets;
    TestWindow window;
    UdpPair pair(sockets);
    ASSERT_EQ(sockets.WSAAsyncSelect(pair.receiver, window.Handle(), WM_NET_UDP, FD_READ), 0);
    for (int i = 0; i < 3; ++i) pair.Send(Filled(10, static_cast<std::uint8_t>(i)));

    auto first = PollFor(sockets, window);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].message, WM_NET_UDP);
    EXPECT_EQ(first[0].wParam, pair.receiver);
    EXPECT_EQ(LOWORD(first[0].lParam), FD_READ);
    EXPECT_EQ(first[0].hwnd, window.Handle());

    // Nothing more until the socket is read from.
    sockets.Poll();
    sockets.Poll();
    EXPECT_TRUE(Drain(window).empty());

    std::uint8_t buffer[64];
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(sockets.recvfrom(pair.receiver, buffer, sizeof buffer, 0, nullptr), 10);
        EXPECT_EQ(buffer[0], i);
        sockets.Poll();
        auto next = Drain(window);
        EXPECT_EQ(next.size(), i < 2 ? 1u : 0u) << "after receive " << i;
    }
}

TEST(Sockets, WaitDescriptorsOnlyForSocketsThatCanNotify)
{
    platform::Sockets sockets;
    TestWindow window;
    UdpPair pair(sockets);
    std::vector<int> fds;
    sockets.CollectWaitDescriptors(fds);
    EXPECT_TRUE(fds.empty()) << "no socket is selected yet";

    sockets.WSAAsyncSelect(pair.receiver, window.Handle(), WM_NET_UDP, FD_READ);
    sockets.CollectWaitDescriptors(fds);
    EXPECT_EQ(fds, std::vector<int>{static_cast<int>(pair.receiver)});

    pair.Send(Filled(5, 1));
    ASSERT_EQ(PollFor(sockets, window).size(), 1u);
    // The notification is out and unanswered: waiting on the socket now
    // would wake the loop for nothing, over and over.
    fds.clear();
    sockets.CollectWaitDescriptors(fds);
    EXPECT_TRUE(fds.empty());

    sockets.closesocket(pair.receiver);
    sockets.Poll();
    fds.clear();
    sockets.CollectWaitDescriptors(fds);
    EXPECT_TRUE(fds.empty());
}

TEST(Sockets, OverlongDatagramFailsWithMessageSizeAndLeavesTheNextIntact)
{
    platform::Sockets sockets;
    UdpPair pair(sockets);
    pair.Send(Filled(100, 1));
    pair.Send(Filled(50, 9));
    std::uint8_t buffer[50];
    int got = platform::SOCKET_ERROR;
    for (int i = 0; i < 200 && got == platform::SOCKET_ERROR; ++i) {
        got = sockets.recvfrom(pair.receiver, buffer, sizeof buffer, 0, nullptr);
        if (got == platform::SOCKET_ERROR && sockets.WSAGetLastError() == platform::WSAEWOULDBLOCK)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        else
            break;
    }
    EXPECT_EQ(got, platform::SOCKET_ERROR);
    EXPECT_EQ(sockets.WSAGetLastError(), platform::WSAEMSGSIZE);
    EXPECT_EQ(sockets.recvfrom(pair.receiver, buffer, sizeof buffer, 0, nullptr), 50);
    EXPECT_EQ(buffer[0], 9);
}

TEST(Sockets, ConnectionLifecycleNotifications)
{
    platform::Sockets sockets;
    TestWindow serverWindow;
    TestWindow clientWindow;
    SOCKET listener = sockets.socket(SocketType::Stream);
    ASSERT_EQ(sockets.WSAAsyncSelect(listener, serverWindow.Handle(), WM_NET_TCP, FD_ACCEPT), 0);
    ASSERT_EQ(sockets.bind(listener, Loopback(0)), 0);
    ASSERT_EQ(sockets.listen(listener, 0), 0);
    int port = LocalPort(sockets, listener);

    SOCKET client = sockets.socket(SocketType::Stream);
    sockets.WSAAsyncSelect(client, clientWindow.Handle(), WM_NET_TCP, FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE);
    int result = sockets.connect(client, Loopback(port));
    EXPECT_TRUE(result == 0 || sockets.WSAGetLastError() == platform::WSAEWOULDBLOCK);

    auto connected = PollFor(sockets, clientWindow);
    ASSERT_FALSE(connected.empty());
    EXPECT_EQ(LOWORD(connected[0].lParam), FD_CONNECT);
    EXPECT_EQ(HIWORD(connected[0].lParam), 0);
    auto writable = connected.size() > 1 ? std::vector<MSG>(connected.begin() + 1, connected.end())
                                         : PollFor(sockets, clientWindow);
    ASSERT_EQ(writable.size(), 1u);
    EXPECT_EQ(LOWORD(writable[0].lParam), FD_WRITE);

    auto accepting = PollFor(sockets, serverWindow);
    ASSERT_EQ(accepting.size(), 1u);
    EXPECT_EQ(LOWORD(accepting[0].lParam), FD_ACCEPT);
    EXPECT_EQ(accepting[0].wParam, listener);
    SOCKET server = sockets.accept(listener, nullptr);
    ASSERT_NE(server, platform::INVALID_SOCKET);
    ASSERT_NE(server, 0u);
    sockets.WSAAsyncSelect(server, serverWindow.Handle(), WM_NET_TCP, FD_READ | FD_CLOSE);

    const Bytes hello{1, 2, 3};
    ASSERT_EQ(sockets.send(server, hello.data(), 3, 0), 3);
    ASSERT_EQ(sockets.shutdown(server, platform::SD_BOTH), 0);
    ASSERT_EQ(sockets.closesocket(server), 0);

    // The data is announced first; the end only once the data is read.
    auto readable = PollFor(sockets, clientWindow);
    ASSERT_EQ(readable.size(), 1u);
    EXPECT_EQ(LOWORD(readable[0].lParam), FD_READ);
    std::uint8_t buffer[8];
    EXPECT_EQ(sockets.recv(client, buffer, sizeof buffer, 0), 3);
    auto closed = PollFor(sockets, clientWindow);
    ASSERT_EQ(closed.size(), 1u);
    EXPECT_EQ(LOWORD(closed[0].lParam), FD_CLOSE);
    for (int i = 0; i < 5; ++i) sockets.Poll();
    EXPECT_TRUE(Drain(clientWindow).empty()) << "nothing follows FD_CLOSE";
}

TEST(Sockets, RefusedConnectionReportsTheErrorOnce)
{
    platform::Sockets sockets;
    TestWindow window;
    // A bound stream socket that does not listen keeps the port taken and refusing.
    SOCKET closedPort = sockets.socket(SocketType::Stream);
    ASSERT_EQ(sockets.bind(closedPort, Loopback(0)), 0);
    SOCKET client = sockets.socket(SocketType::Stream);
    sockets.WSAAsyncSelect(client, window.Handle(), WM_NET_TCP, FD_READ | FD_CONNECT | FD_CLOSE);
    sockets.connect(client, Loopback(LocalPort(sockets, closedPort)));
    auto messages = PollFor(sockets, window);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(LOWORD(messages[0].lParam), FD_CONNECT);
    EXPECT_EQ(HIWORD(messages[0].lParam), platform::WSAECONNREFUSED);
    for (int i = 0; i < 5; ++i) sockets.Poll();
    EXPECT_TRUE(Drain(window).empty());
}

TEST(Sockets, CallsOnDescriptorsItDidNotCreateAreRefused)
{
    platform::Sockets sockets;
    std::uint8_t buffer[4];
    // Descriptor 1 is stdout: the layer must not read from or close it.
    EXPECT_EQ(sockets.recv(1, buffer, sizeof buffer, 0), platform::SOCKET_ERROR);
    EXPECT_EQ(sockets.WSAGetLastError(), platform::WSAENOTSOCK);
    EXPECT_EQ(sockets.closesocket(1), platform::SOCKET_ERROR);
    EXPECT_EQ(sockets.WSAAsyncSelect(1, nullptr, WM_NET_TCP, FD_READ), platform::SOCKET_ERROR);
    EXPECT_NE(::write(1, "", 0), -1) << "stdout must still be open";
}

TEST(Sockets, BindErrorsAreReportedByName)
{
    platform::Sockets sockets;
    SOCKET first = sockets.socket(SocketType::Stream);
    ASSERT_EQ(sockets.bind(first, Loopback(0)), 0);
    ASSERT_EQ(sockets.listen(first, 0), 0);
    SOCKET second = sockets.socket(SocketType::Stream);
    EXPECT_EQ(sockets.bind(second, Loopback(LocalPort(sockets, first))), platform::SOCKET_ERROR);
    EXPECT_EQ(sockets.WSAGetLastError(), platform::WSAEADDRINUSE);
    if (::geteuid() != 0) {
        SOCKET privileged = sockets.socket(SocketType::Stream);
        EXPECT_EQ(sockets.bind(privileged, Loopback(1)), platform::SOCKET_ERROR);
        EXPECT_EQ(sockets.WSAGetLastError(), platform::WSAEACCES);
    }
}

TEST(Sockets, ResolvesDottedAddressesAndRefusesMalformedNames)
{
    platform::Sockets sockets;
    std::uint32_t address = 0;
    ASSERT_TRUE(sockets.ResolveIPv4("127.0.0.1", address));
    EXPECT_EQ(address, platform::HostToNetwork32(0x7F000001u));
    // Not looked up at all: nothing leaves the machine.
    EXPECT_FALSE(sockets.ResolveIPv4("no such host", address));
    EXPECT_EQ(sockets.WSAGetLastError(), platform::WSAHOST_NOT_FOUND);
    EXPECT_FALSE(sockets.ResolveIPv4("", address));
    EXPECT_FALSE(sockets.ResolveIPv4(nullptr, address));
}

TEST(Sockets, StartupAndCleanupBalance)
{
    platform::Sockets sockets;
    WORD high = 0;
    EXPECT_EQ(sockets.WSAStartup(0x0101, high), 0);
    EXPECT_NE(high, 0);
    EXPECT_EQ(sockets.WSACleanup(), 0);
    EXPECT_EQ(sockets.WSACleanup(), platform::SOCKET_ERROR);
}
