// Picture reception on top of the client handshake.
#include "net/NetLink.h"

#include <cstring>
#include <new>

NetLink::NetLink(platform::Sockets& socketLayer) : PeerLink(socketLayer) {}

NetLink::~NetLink() { frameBuffer.reset(); }

bool NetLink::Open(HWND notifyWindow, LinkMode mode, const char* host, int port)
{
    // Allocated once; a second Open keeps the picture it already has.
    if (!frameBuffer) {
        frameBuffer.reset(new (std::nothrow) std::uint8_t[FrameSize]());
        if (!frameBuffer) return false;
    }
    return PeerLink::Open(notifyWindow, mode, host, port);
}

bool NetLink::OnUdpRead(HWND notifyWindow, platform::SOCKET socket, LPARAM lParam)
{
    (void)notifyWindow;
    (void)lParam;
    if (udp.socket == 0 || socket != udp.socket || !frameBuffer) return false;
    platform::SocketAddress from;
    // A datagram of any other length is not a picture: shorter ones come
    // back short, longer ones as an error.
    int got = sockets.recvfrom(udp.socket, udpBuffer, UdpBufferSize, 0, &from);
    if (got == FrameSize) {
        std::memcpy(frameBuffer.get(), udpBuffer, FrameSize);
        hasFrame = true;
    }
    return false;
}
