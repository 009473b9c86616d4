// Test harness for the network link over loopback: windows with their own
// message queues, a bounded message loop that routes each window's messages
// to its link, and raw sockets that play the other side byte for byte.
//
// Every address used here is on loopback (127.0.0.0/8 and ::1); every wait
// is bounded. 127.0.0.2 and 127.0.0.3 play other machines on the network.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

#include "net/PeerChannel.h"
#include "net/PeerServer.h"
#include "platform/sockets/Sockets.h"
#include "platform/system/Wait.h"
#include "platform/system/messages.h"

namespace nettest {

using platform::SOCKET;
using platform::SocketAddress;
using Bytes = std::vector<std::uint8_t>;

// 127.0.0.<last>:port.
inline SocketAddress Loopback(int port, int last = 1)
{
    SocketAddress address;
    address.family = platform::ADDRESS_FAMILY_INET;
    address.port = platform::HostToNetwork16(static_cast<std::uint16_t>(port));
    address.address = platform::HostToNetwork32(0x7F000000u + static_cast<std::uint32_t>(last));
    return address;
}

// A UDP socket bound to 127.0.0.<last>, any port.
inline SOCKET DatagramSocketAt(platform::Sockets& sockets, int last)
{
    SOCKET s = sockets.socket(platform::SocketType::Datagram);
    sockets.bind(s, Loopback(0, last));
    return s;
}

// A TCP connection from 127.0.0.<last> to 127.0.0.1:port, under way.
inline SOCKET ConnectFrom(platform::Sockets& sockets, int last, int port)
{
    SOCKET s = sockets.socket(platform::SocketType::Stream);
    sockets.bind(s, Loopback(0, last));
    sockets.connect(s, Loopback(port));
    return s;
}

inline int PortOf(const SocketAddress& address) { return platform::NetworkToHost16(address.port); }

inline int LocalPort(platform::Sockets& sockets, SOCKET s)
{
    SocketAddress address;
    return sockets.LocalAddress(s, address) ? PortOf(address) : -1;
}

// A window record with its own queue, as the platform window would make.
struct TestWindow {
    platform::MessageQueue queue;
    HWND__ record;
    TestWindow() { record.queue = &queue; }
    HWND Handle() { return &record; }
};

// The message loop of a test: polls the sockets layer and hands every
// message of each window to that window's link.
class TestLoop {
public:
    explicit TestLoop(platform::Sockets& sockets) : sockets_(sockets) {}

    void Route(TestWindow& window, PeerChannel* link) { routes_.push_back({&window, link}); }
    void Unroute(PeerChannel* link)
    {
        for (auto& route : routes_)
            if (route.link == link) route.link = nullptr;
    }

    // One pass: poll, then deliver. Returns the number of messages delivered.
    int Pass()
    {
        sockets_.Poll();
        int delivered = 0;
        for (auto& route : routes_) {
            MSG msg;
            while (route.window->queue.Get(msg)) {
                ++delivered;
                if (route.link != nullptr) route.link->HandleMessage(msg.hwnd, msg.message, msg.wParam, msg.lParam);
            }
        }
        return delivered;
    }

    bool RunUntil(const std::function<bool()>& done, int timeoutMs = 3000)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < deadline) {
            if (Pass() == 0) {
                if (done()) return true;
                std::vector<int> fds;
                sockets_.CollectWaitDescriptors(fds);
                platform::WaitForDescriptors(fds, 2);
            } else if (done()) {
                return true;
            }
        }
        return done();
    }

    void RunFor(int milliseconds)
    {
        RunUntil([] { return false; }, milliseconds);
    }

private:
    struct RouteEntry {
        TestWindow* window;
        PeerChannel* link;
    };
    platform::Sockets& sockets_;
    std::vector<RouteEntry> routes_;
};

// The peer's side played by hand: a listening TCP socket and a UDP socket on
// the same loopback port, neither registered for notifications.
class RawServer {
public:
    explicit RawServer(platform::Sockets& sockets) : sockets_(sockets)
    {
        for (int attempt = 0; attempt < 50 && port_ == 0; ++attempt) {
            SOCKET tcp = sockets_.socket(platform::SocketType::Stream);
            SOCKET udp = sockets_.socket(platform::SocketType::Datagram);
            if (sockets_.bind(tcp, Loopback(0)) == 0 && sockets_.listen(tcp, 8) == 0) {
                int port = LocalPort(sockets_, tcp);
                if (sockets_.bind(udp, Loopback(port)) == 0) {
                    tcp_ = tcp;
                    udp_ = udp;
                    port_ = port;
                    break;
                }
            }
            sockets_.closesocket(tcp);
            sockets_.closesocket(udp);
        }
    }
    ~RawServer()
    {
        for (SOCKET s : accepted_) sockets_.closesocket(s);
        if (tcp_ != 0) sockets_.closesocket(tcp_);
        if (udp_ != 0) sockets_.closesocket(udp_);
    }

    int Port() const { return port_; }
    SOCKET Udp() const { return udp_; }

    // Accepts the next connection while the loop runs; 0 on time-out.
    SOCKET Accept(TestLoop& loop)
    {
        SOCKET accepted = platform::INVALID_SOCKET;
        loop.RunUntil([&] {
            accepted = sockets_.accept(tcp_, nullptr);
            return accepted != platform::INVALID_SOCKET;
        });
        if (accepted == platform::INVALID_SOCKET) return 0;
        accepted_.push_back(accepted);
        return accepted;
    }

    bool Send(SOCKET s, const Bytes& bytes)
    {
        return sockets_.send(s, bytes.data(), static_cast<int>(bytes.size()), 0) == static_cast<int>(bytes.size());
    }

    // The next datagram on the UDP port, waiting while the loop runs.
    bool Receive(TestLoop& loop, Bytes& bytes, SocketAddress* from = nullptr, int timeoutMs = 3000)
    {
        Bytes buffer(70000);
        int got = -1;
        SocketAddress sender;
        loop.RunUntil(
            [&] {
                got = sockets_.recvfrom(udp_, buffer.data(), static_cast<int>(buffer.size()), 0, &sender);
                return got >= 0;
            },
            timeoutMs);
        if (got < 0) return false;
        bytes.assign(buffer.begin(), buffer.begin() + got);
        if (from != nullptr) *from = sender;
        return true;
    }

private:
    platform::Sockets& sockets_;
    SOCKET tcp_ = 0;
    SOCKET udp_ = 0;
    int port_ = 0;
    std::vector<SOCKET> accepted_;
};

inline Bytes Filled(std::size_t size, std::uint8_t seed)
{
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 7);
    return bytes;
}

}  // namespace nettest
