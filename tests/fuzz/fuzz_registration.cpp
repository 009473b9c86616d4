// The peer's UDP handler (Registrations) fed arbitrary datagrams over
// loopback, from the address of the one connected installation (127.0.0.1)
// or from another (127.0.0.2). Only FE FF 00 00 (and longer datagrams that
// begin so) from 127.0.0.1 may fill a slot, and only slot 0, the one with a
// connection.
//
// Input: the first byte picks the sender (bit 0); the rest is the datagram.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "net/PeerServer.h"
#include "LoopbackBench.h"

namespace {

using platform::SocketAddress;

struct Bench : LoopbackBench {
    PeerServer server{sockets};
    platform::SOCKET installation = 0;  // a TCP connection from 127.0.0.1
    int port = 0;

    Bench()
    {
        server.SetListenAddress(platform::HostToNetwork32(0x7F000001u));
        if (!server.Open(&window, 0) || server.Udp().socket == 0) std::abort();
        SocketAddress bound;
        sockets.LocalAddress(server.Tcp().socket, bound);
        port = platform::NetworkToHost16(bound.port);
        installation = sockets.socket(platform::SocketType::Stream);
        sockets.connect(installation, Loopback(0x7F000001u, port));
        for (int pass = 0; pass < 100000 && server.Peer(0).socket == 0; ++pass) Pump();
        if (server.Peer(0).socket == 0) std::abort();
        OpenSenders();
    }
    void Pump()
    {
        sockets.Poll();
        MSG msg;
        while (queue.Get(msg)) server.HandleMessage(msg.hwnd, msg.message, msg.wParam, msg.lParam);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static Bench bench;
    if (size == 0 || size > 65000) return 0;
    int sender = data[0] & 1;
    const std::uint8_t* datagram = data + 1;
    int length = static_cast<int>(size - 1);
    if (bench.sockets.sendto(bench.senders[sender], datagram, length, 0, Loopback(0x7F000001u, bench.port)) != length)
        return 0;
    // Loopback delivers at once: the handler reads this very datagram.
    bench.server.HandleMessage(&bench.window, WM_NET_UDP, bench.server.Udp().socket, FD_READ);

    bool claimsSlotZero = length >= 4 && datagram[0] == 0xFE && datagram[1] == 0xFF && datagram[2] == 0 &&
                          datagram[3] == 0;
    const PeerEntry& slot0 = bench.server.Peer(0);
    bool filled = slot0.address.family != 0;
    if (filled != (claimsSlotZero && sender == 0)) std::abort();
    for (int i = 1; i < PeerServer::PeerCount; ++i)
        if (bench.server.Peer(i).address.family != 0) std::abort();
    // Forget it again for the next input.
    const_cast<PeerEntry&>(slot0).address = SocketAddress{};
    return 0;
}
