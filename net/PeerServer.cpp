// The server's handshake: listening, slots for the connections, Greetings,
// the Registrations that fill in each slot's address, and the timer that
// keeps idle connections from holding the slots.
#include "net/PeerServer.h"

#include "common/Log.h"

using platform::INVALID_SOCKET;
using platform::SOCKET;
using platform::SOCKET_ERROR;
using platform::SocketAddress;
using platform::WSAEWOULDBLOCK;

int RegistrationSlot(const std::uint8_t* bytes, int length, const SocketAddress& from,
                     const PeerEntry (&peers)[PeerChannel::PeerCount])
{
    if (bytes == nullptr || length < 4 || ReadWord(bytes) != PeerChannel::RegistrationMarker) return -1;
    int id = ReadWord(bytes + 2);
    // An id outside the table is refused rather than written past it.
    if (id < 0 || id >= PeerChannel::PeerCount) return -1;
    const PeerEntry& peer = peers[id];
    // Only the machine that holds the slot's connection may say where its
    // pictures go; anyone else could take its stream or aim it at a third
    // machine.
    if (peer.socket == 0 || !platform::SameHost(from, peer.connectedFrom)) return -1;
    return id;
}

namespace {

SocketAddress InetAddress(std::uint32_t networkAddress, int port)
{
    SocketAddress address;
    address.family = platform::ADDRESS_FAMILY_INET;
    address.port = platform::HostToNetwork16(static_cast<std::uint16_t>(port));
    address.address = networkAddress;
    return address;
}

SocketAddress AnyInet6Address(int port)
{
    SocketAddress address;
    address.family = platform::ADDRESS_FAMILY_INET6;
    address.port = platform::HostToNetwork16(static_cast<std::uint16_t>(port));
    return address;
}

// accept failures that say "nothing to take right now" rather than "the
// listening socket is broken".
bool TransientAcceptError(int error)
{
    return error == WSAEWOULDBLOCK || error == platform::WSAECONNABORTED || error == platform::WSAECONNRESET ||
           error == platform::WSAEMFILE || error == platform::WSAENOBUFS || error == platform::WSAEINTR;
}

}  // namespace

PeerServer::PeerServer(platform::Sockets& socketLayer) : PeerChannel(socketLayer) {}

bool PeerServer::Open(HWND notifyWindow, int port)
{
    acceptDeferred = false;
    refusedRegistrations = 0;
    if (!Restart(notifyWindow)) return false;
    if (port < 0 || port > 65535) {
        tcp.error = udp.error = platform::WSAEINVAL;
        return true;
    }
    // Every interface of both families, unless told one IPv4 address;
    // a system without IPv6 gets IPv4 alone.
    SocketAddress local = listenAddress != 0 ? InetAddress(listenAddress, port) : AnyInet6Address(port);
    if (!tcp.Listen(*this, window, local) && local.family == platform::ADDRESS_FAMILY_INET6 &&
        tcp.error == platform::WSAEAFNOSUPPORT) {
        local = InetAddress(0, port);
        tcp.Listen(*this, window, local);
    }
    // Asked for any port, the datagrams go to the one the listener got.
    SocketAddress bound;
    if (port == 0 && tcp.socket != 0 && sockets.LocalAddress(tcp.socket, bound)) local.port = bound.port;
    udp.Bind(*this, window, local);
    return true;
}

void PeerServer::Update()
{
    if (!Started()) return;
    ExpireSilentConnections(Now());
}

void PeerServer::ExpireSilentConnections(DWORD now)
{
    for (int i = 0; i < PeerCount; ++i) {
        const PeerEntry& peer = peers[i];
        if (peer.socket != 0 && peer.address.family == 0 && now - peer.acceptedAt >= RegistrationTimeoutMs)
            Disconnect(i);
    }
}

void PeerServer::Disconnect(int slot)
{
    PeerEntry& peer = peers[slot];
    if (peer.socket != 0) {
        // NOTE: the handle is closed too, so that a long-running server does
        // not run out of descriptors as clients come and go.
        sockets.shutdown(peer.socket, platform::SD_BOTH);
        sockets.closesocket(peer.socket);
    }
    peer.socket = 0;
    // The next occupant's address is not this client's.
    peer.address = SocketAddress{};
    peer.connectedFrom = SocketAddress{};
    if (acceptDeferred && tcp.socket != 0) {
        acceptDeferred = false;
        // Not the override: whoever called this reports the change.
        PeerServer::OnAccept(window, tcp.socket, FD_ACCEPT);
    }
}

bool PeerServer::OnAccept(HWND notifyWindow, SOCKET socket, LPARAM lParam)
{
    (void)lParam;
    if (tcp.socket == 0 || socket != tcp.socket) return false;
    int slot = -1;
    for (int i = 0; i < PeerCount; ++i) {
        if (peers[i].socket == 0) {
            slot = i;
            break;
        }
    }
    if (slot < 0) {
        // The connection waits in the system's queue; a freed slot takes it.
        acceptDeferred = true;
        return false;
    }

    SocketAddress from;
    SOCKET accepted = sockets.accept(tcp.socket, &from);
    if (accepted == INVALID_SOCKET) {
        // NOTE: the slot stays free; a failed accept must not hold it.
        int error = sockets.WSAGetLastError();
        if (!TransientAcceptError(error)) {
            LogError("net", "accepting a connection failed: %s; no longer listening", platform::SocketErrorText(error));
            tcp.Close();
        }
        return false;
    }
    PeerEntry& peer = peers[slot];
    peer.socket = accepted;
    peer.address = SocketAddress{};
    peer.connectedFrom = from;
    peer.acceptedAt = Now();
    if (sockets.WSAAsyncSelect(accepted, notifyWindow, WM_NET_TCP, FD_READ | FD_CLOSE) != 0) {
        sockets.closesocket(accepted);
        peer.socket = 0;
        return false;
    }
    std::uint8_t greeting[4];
    WriteWord(greeting, GreetingMarker);
    WriteWord(greeting + 2, static_cast<std::int16_t>(peer.id));
    sockets.send(accepted, greeting, sizeof greeting, 0);
    if (sockets.listen(tcp.socket, 0) == SOCKET_ERROR && sockets.WSAGetLastError() != WSAEWOULDBLOCK) {
        tcp.Close();
        return false;
    }
    return true;
}

bool PeerServer::OnClose(HWND notifyWindow, SOCKET socket, LPARAM lParam)
{
    (void)notifyWindow;
    (void)lParam;
    int slot = SlotOf(socket);
    if (slot < 0) return false;
    Disconnect(slot);
    return true;
}

bool PeerServer::OnTcpRead(HWND notifyWindow, SOCKET socket, LPARAM lParam)
{
    (void)notifyWindow;
    (void)lParam;
    if (SlotOf(socket) < 0) return false;
    // Nothing to learn from what clients send over TCP; reading it only
    // keeps the connection flowing.
    if (sockets.recv(socket, tcpBuffer, TcpReadSize, 0) < 0) return true;
    return false;
}

bool PeerServer::OnUdpRead(HWND notifyWindow, SOCKET socket, LPARAM lParam)
{
    (void)notifyWindow;
    (void)lParam;
    if (udp.socket == 0 || socket != udp.socket) return false;
    bool registered = false;
    // Several per notification, bounded, so that junk cannot crowd out the
    // Registrations of real installations.
    for (int i = 0; i < DatagramsPerEvent; ++i) {
        SocketAddress from;
        int got = sockets.recvfrom(udp.socket, udpBuffer, UdpBufferSize, 0, &from);
        if (got < 0 && sockets.WSAGetLastError() != platform::WSAEMSGSIZE) break;
        int slot = RegistrationSlot(udpBuffer, got, from, peers);
        if (slot < 0) {
            if (got >= 4 && ReadWord(udpBuffer) == RegistrationMarker) ++refusedRegistrations;
            continue;
        }
        peers[slot].address = from;
        registered = true;
    }
    return registered;
}
