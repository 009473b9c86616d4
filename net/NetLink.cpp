// Picture reception on top of the client handshake.
#include "net/NetLink.h"

#include <cstring>
#include <memory>

#include "common/Log.h"

bool AcceptsPicture(int length, const platform::SocketAddress& from, const platform::SocketAddress& peer,
                    bool anySource)
{
    if (length != NetLink::FrameSize) return false;
    return anySource || (peer.family != 0 && platform::SameHost(from, peer));
}

NetLink::NetLink(platform::Sockets& socketLayer) : PeerLink(socketLayer) {}

NetLink::~NetLink() { frameBuffer.reset(); }

bool NetLink::Open(HWND notifyWindow, const char* host, int port)
{
    // Allocated once; a second Open keeps the picture it already has.
    if (!frameBuffer) frameBuffer = std::make_unique<std::uint8_t[]>(FrameSize);
    std::string name = host != nullptr ? host : "";
    bool v6 = name.find(':') != std::string::npos && name.front() != '[';
    peerName = (v6 ? "[" + name + "]" : name) + ":" + std::to_string(port);
    return PeerLink::Open(notifyWindow, host, port);
}

bool NetLink::OnUdpRead(HWND, platform::SOCKET socket, LPARAM)
{
    if (udp.socket == 0 || socket != udp.socket || !frameBuffer) return false;
    // NOTE: several datagrams per notification: under a flood of junk the
    // queue must empty faster than it fills, or the kernel drops the real
    // pictures with the junk. Bounded, so a flood cannot hold up a step.
    for (int i = 0; i < DatagramsPerEvent; ++i) {
        platform::SocketAddress from;
        // A datagram of any other length is not a picture: shorter ones
        // come back short, longer ones as an error.
        int got = sockets.recvfrom(udp.socket, udpBuffer, UdpBufferSize, 0, &from);
        if (got < 0 && sockets.WSAGetLastError() != platform::WSAEMSGSIZE) break;
        TakeDatagram(got, from);
    }
    return false;
}

void NetLink::TakeDatagram(int length, const platform::SocketAddress& from)
{
    if (!AcceptsPicture(length, from, peers[0].address, anySource)) {
        if (length == FrameSize && !refusalReported) {
            // Once: a flood of forged pictures must not flood the log too.
            refusalReported = true;
            LogWarning("net", "refused a picture from %s: only the peer %s may send pictures (--link-any-source "
                       "takes them from anywhere, for a peer behind NAT)",
                       platform::FormatAddress(from).c_str(), platform::FormatAddress(peers[0].address).c_str());
        }
        return;
    }
    std::memcpy(frameBuffer.get(), udpBuffer, FrameSize);
    if (!pictureSinceGreeting && silenceReported)
        LogLine("net", "pictures from the peer %s arrive now", peerName.c_str());
    pictureSinceGreeting = true;
    hasFrame = true;
    ++picturesReceived;
    NoteContact();
}

bool NetLink::OnTcpRead(HWND notifyWindow, platform::SOCKET socket, LPARAM lParam)
{
    const LinkState before = State();
    const bool handled = PeerLink::OnTcpRead(notifyWindow, socket, lParam);
    if (before != LinkState::Connected && State() == LinkState::Connected) {
        greetedAt = Now();
        pictureSinceGreeting = false;
        resendAt = greetedAt + RegistrationResendMs;
        silenceReported = false;
    }
    return handled;
}

void NetLink::Update()
{
    PeerLink::Update();
    if (State() != LinkState::Connected || pictureSinceGreeting) return;
    const DWORD now = Now();
    // Signed differences: the clock wraps like timeGetTime.
    if (static_cast<std::int32_t>(now - resendAt) >= 0) {
        std::uint8_t registration[4];
        WriteWord(registration, RegistrationMarker);
        WriteWord(registration + 2, static_cast<std::int16_t>(ownId));
        SendToPeers(registration, sizeof registration);
        resendAt = now + RegistrationResendMs;
    }
    if (!silenceReported && now - greetedAt >= NoPictureWarningMs) {
        silenceReported = true;
        LogWarning("net", "the peer %s greeted this installation %u s ago but no picture has come; registering "
                   "again every %u s (is the peer's UDP port open? do other machines hold its places?)",
                   peerName.c_str(), static_cast<unsigned>(NoPictureWarningMs / 1000),
                   static_cast<unsigned>(RegistrationResendMs / 1000));
    }
}

LinkStatus NetLink::Status()
{
    LinkStatus status;
    status.state = State();
    if (status.state != LinkState::None) status.peer = peerName;
    if (contacted) status.lastContactSeconds = static_cast<double>(Now() - lastContact) / 1000.0;
    status.picturesReceived = picturesReceived;
    status.noPictures = status.state == LinkState::Connected && !pictureSinceGreeting &&
                        Now() - greetedAt >= NoPictureWarningMs;
    return status;
}
