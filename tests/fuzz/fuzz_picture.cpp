// The installation's UDP handler (pictures) fed arbitrary datagrams over
// loopback, from its peer's address (127.0.0.1) or from another
// (127.0.0.2). A picture is taken only when it is exactly 49152 bytes and
// comes from the peer, and then it is taken whole.
//
// Input: the first byte picks the sender (bit 0) and whether the rest is
// repeated to the size of a picture (bit 1), so that pictures are reachable.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "net/NetLink.h"
#include "LoopbackBench.h"

namespace {

using platform::SocketAddress;

struct Bench : LoopbackBench {
    NetLink link{sockets};
    platform::SOCKET peerTcp = 0;
    SocketAddress linkAddress;

    Bench()
    {
        // A listening socket stands for the peer; the link needs only its address.
        peerTcp = sockets.socket(platform::SocketType::Stream);
        if (sockets.bind(peerTcp, Loopback(0x7F000001u, 0)) != 0 || sockets.listen(peerTcp, 1) != 0) std::abort();
        SocketAddress bound;
        sockets.LocalAddress(peerTcp, bound);
        if (!link.Open(&window, "127.0.0.1", platform::NetworkToHost16(bound.port))) std::abort();
        OpenSenders();
        // The link's UDP socket gets its port from its first send.
        std::uint8_t hello[4] = {0xFE, 0xFF, 0, 0};
        SocketAddress first;
        sockets.LocalAddress(senders[0], first);
        sockets.sendto(link.Udp().socket, hello, sizeof hello, 0, first);
        std::uint8_t drop[8];
        sockets.recvfrom(senders[0], drop, sizeof drop, 0, nullptr);
        sockets.LocalAddress(link.Udp().socket, linkAddress);
        linkAddress.address = platform::HostToNetwork32(0x7F000001u);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static Bench bench;
    static std::vector<std::uint8_t> datagram;
    static std::uint64_t takenBefore = 0;
    if (size == 0 || size > 65000) return 0;
    int sender = data[0] & 1;
    bool pad = (data[0] & 2) != 0 && size > 1;
    datagram.assign(data + 1, data + size);
    if (pad) {
        datagram.resize(NetLink::FrameSize);
        for (std::size_t i = size - 1; i < datagram.size(); ++i) datagram[i] = datagram[i % (size - 1)];
    }
    int length = static_cast<int>(datagram.size());
    if (bench.sockets.sendto(bench.senders[sender], datagram.data(), length, 0, bench.linkAddress) != length) return 0;
    bench.link.HandleMessage(&bench.window, WM_NET_UDP, bench.link.Udp().socket, FD_READ);

    bool picture = length == NetLink::FrameSize && sender == 0;
    std::uint64_t taken = bench.link.Status().picturesReceived;
    if ((taken != takenBefore) != picture) std::abort();
    if (picture && std::memcmp(bench.link.FrameBuffer(), datagram.data(), NetLink::FrameSize) != 0) std::abort();
    takenBefore = taken;
    return 0;
}
