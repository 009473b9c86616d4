// Cost of taking one picture off the network: the sender's datagram over
// loopback, the notification, the link's receive and its 48 KB copy. The
// design target is one receive and one copy per picture, no allocation,
// far below a scene step (50 ms).
//
// And the cost of throwing away junk from another address (a flood): the
// link must drain it faster than 100 000 datagrams a second arrive, on one
// core, with time to spare for the steps.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "net/NetLink.h"
#include "platform/sockets/Sockets.h"
#include "platform/system/messages.h"

namespace {

// A client link on loopback with a stand-in server: a UDP socket on a
// loopback port that the link registers with. Without a TCP peer there is no
// greeting; the link's UDP socket gets its port from one datagram sent by hand.
struct LoopbackLink {
    LoopbackLink()
    {
        window.queue = &queue;
        loopback.family = platform::ADDRESS_FAMILY_INET;
        loopback.address = platform::HostToNetwork32(0x7F000001u);
        server = sockets.socket(platform::SocketType::Datagram);
        sockets.bind(server, loopback);
        sockets.LocalAddress(server, bound);
        link.Open(&window, "127.0.0.1", platform::NetworkToHost16(bound.port));
        udp = link.Udp().socket;
        std::uint8_t hello[4] = {0xFE, 0xFF, 0, 0};
        sockets.sendto(udp, hello, sizeof hello, 0, bound);
        sockets.LocalAddress(udp, linkAddress);
        linkAddress.address = loopback.address;
    }

    platform::Sockets sockets;
    platform::MessageQueue queue;
    HWND__ window;
    platform::SocketAddress loopback;
    platform::SOCKET server{};
    platform::SocketAddress bound;
    NetLink link{sockets};
    platform::SOCKET udp{};
    platform::SocketAddress linkAddress;  // where the link's datagrams go
};

void BM_ReceivePicture(benchmark::State& state)
{
    LoopbackLink loop;
    platform::Sockets& sockets = loop.sockets;
    NetLink& link = loop.link;
    const platform::SOCKET server = loop.server;
    const platform::SocketAddress& linkAddress = loop.linkAddress;

    std::vector<std::uint8_t> picture(NetLink::FrameSize, 0x5A);
    std::int64_t taken = 0;
    for (auto _ : state) {
        sockets.sendto(server, picture.data(), NetLink::FrameSize, 0, linkAddress);
        MSG msg;
        bool handled = false;
        for (int pass = 0; pass < 1000000 && !handled; ++pass) {
            sockets.Poll();
            while (loop.queue.Get(msg)) {
                link.HandleMessage(msg.hwnd, msg.message, msg.wParam, msg.lParam);
                handled = handled || (msg.message == WM_NET_UDP && LOWORD(msg.lParam) == FD_READ);
            }
        }
        if (!handled) {
            state.SkipWithError("a picture was lost on loopback");
            break;
        }
        ++taken;
    }
    state.SetItemsProcessed(taken);
    state.SetBytesProcessed(taken * NetLink::FrameSize);
    if (!link.HasFrame()) state.SkipWithError("no picture arrived");
}
BENCHMARK(BM_ReceivePicture)->Unit(benchmark::kMicrosecond);

void BM_DrainFlood(benchmark::State& state)
{
    LoopbackLink loop;
    platform::Sockets& sockets = loop.sockets;
    NetLink& link = loop.link;
    const platform::SocketAddress& linkAddress = loop.linkAddress;

    // The flood comes from another machine's address.
    platform::SocketAddress other = loop.loopback;
    other.address = platform::HostToNetwork32(0x7F000002u);
    platform::SOCKET attacker = sockets.socket(platform::SocketType::Datagram);
    sockets.bind(attacker, other);
    std::uint8_t junk[32] = {0xFE, 0xFF, 0, 0};
    const int batch = PeerLink::DatagramsPerEvent;
    std::int64_t drained = 0;
    for (auto _ : state) {
        for (int i = 0; i < batch; ++i) sockets.sendto(attacker, junk, 1 + i % 32, 0, linkAddress);
        // One read notification takes the whole batch.
        link.HandleMessage(&loop.window, WM_NET_UDP, loop.udp, FD_READ);
        drained += batch;
    }
    state.SetItemsProcessed(drained);
    if (link.HasFrame()) state.SkipWithError("junk became a picture");
}
BENCHMARK(BM_DrainFlood)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
