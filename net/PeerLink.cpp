// The handshake of the peer link: channel set-up for both modes, the event
// handlers and the peer table.
#include "net/PeerLink.h"

#include <string>

#include "common/Log.h"

using platform::INVALID_SOCKET;
using platform::SOCKET;
using platform::SOCKET_ERROR;
using platform::SocketAddress;
using platform::SocketType;
using platform::WSAEWOULDBLOCK;

void WriteWord(std::uint8_t* bytes, std::int16_t value)
{
    auto bits = static_cast<std::uint16_t>(value);
    bytes[0] = static_cast<std::uint8_t>(bits & 0xFF);
    bytes[1] = static_cast<std::uint8_t>(bits >> 8);
}

std::int16_t ReadWord(const std::uint8_t* bytes)
{
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8)));
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

// accept failures that say "nothing to take right now" rather than "the
// listening socket is broken".
bool TransientAcceptError(int error)
{
    return error == WSAEWOULDBLOCK || error == platform::WSAECONNABORTED || error == platform::WSAECONNRESET ||
           error == platform::WSAEMFILE || error == platform::WSAENOBUFS || error == platform::WSAEINTR;
}

}  // namespace

// --- TcpChannel -------------------------------------------------------------

TcpChannel::~TcpChannel() { Close(); }

void TcpChannel::Close()
{
    if (socket != 0 && owner != nullptr) owner->sockets.closesocket(socket);
    socket = 0;
}

bool TcpChannel::Listen(PeerLink& link, HWND notifyWindow, int port)
{
    Close();
    owner = &link;
    window = notifyWindow;
    mode = LinkMode::Server;
    error = 0;
    platform::Sockets& sockets = link.sockets;
    SOCKET s = sockets.socket(SocketType::Stream);
    if (s == INVALID_SOCKET) {
        error = sockets.WSAGetLastError();
        return false;
    }
    socket = s;
    if (sockets.WSAAsyncSelect(s, window, WM_NET_TCP, FD_ACCEPT) != 0 ||
        sockets.bind(s, InetAddress(link.listenAddress, port)) == SOCKET_ERROR ||
        (sockets.listen(s, 0) == SOCKET_ERROR && sockets.WSAGetLastError() != WSAEWOULDBLOCK)) {
        error = sockets.WSAGetLastError();
        Close();
        return false;
    }
    return true;
}

bool TcpChannel::Connect(PeerLink& link, HWND notifyWindow, const char* host, int port)
{
    Close();
    owner = &link;
    window = notifyWindow;
    mode = LinkMode::Client;
    error = 0;
    platform::Sockets& sockets = link.sockets;
    PeerEntry& server = link.peers[0];
    SOCKET s = sockets.socket(SocketType::Stream);
    if (s == INVALID_SOCKET) {
        error = sockets.WSAGetLastError();
        return false;
    }
    server.socket = s;
    std::uint32_t address = 0;
    if (!sockets.ResolveIPv4(host, address)) {
        error = sockets.WSAGetLastError();
        sockets.closesocket(s);
        server.socket = 0;
        return false;
    }
    sockets.WSAAsyncSelect(s, window, WM_NET_TCP, FD_READ | FD_CONNECT | FD_CLOSE);
    if (sockets.connect(s, InetAddress(address, port)) == SOCKET_ERROR &&
        sockets.WSAGetLastError() != WSAEWOULDBLOCK) {
        error = sockets.WSAGetLastError();
        sockets.closesocket(s);
        server.socket = 0;
        return false;
    }
    return true;
}

// --- UdpChannel -------------------------------------------------------------

UdpChannel::~UdpChannel() { Close(); }

void UdpChannel::Close()
{
    if (socket != 0 && owner != nullptr) owner->sockets.closesocket(socket);
    socket = 0;
}

bool UdpChannel::Bind(PeerLink& link, HWND notifyWindow, int port)
{
    Close();
    owner = &link;
    window = notifyWindow;
    mode = LinkMode::Server;
    error = 0;
    platform::Sockets& sockets = link.sockets;
    SOCKET s = sockets.socket(SocketType::Datagram);
    if (s == INVALID_SOCKET) {
        error = sockets.WSAGetLastError();
        return false;
    }
    socket = s;
    if (sockets.bind(s, InetAddress(link.listenAddress, port)) == SOCKET_ERROR ||
        (sockets.WSAAsyncSelect(s, window, WM_NET_UDP, FD_READ) == SOCKET_ERROR &&
         sockets.WSAGetLastError() != WSAEWOULDBLOCK)) {
        error = sockets.WSAGetLastError();
        Close();
        return false;
    }
    return true;
}

bool UdpChannel::Target(PeerLink& link, HWND notifyWindow, const char* host, int port)
{
    Close();
    owner = &link;
    window = notifyWindow;
    mode = LinkMode::Client;
    error = 0;
    platform::Sockets& sockets = link.sockets;
    std::uint32_t address = 0;
    if (!sockets.ResolveIPv4(host, address)) {
        error = sockets.WSAGetLastError();
        return false;
    }
    // The server takes datagrams on the same port number as connections.
    link.peers[0].address = InetAddress(address, port);
    SOCKET s = sockets.socket(SocketType::Datagram);
    if (s == INVALID_SOCKET) {
        error = sockets.WSAGetLastError();
        return false;
    }
    socket = s;
    // NOTE: not bound: the system picks the local port at the first send
    // (the Registration), and that is the address the server learns.
    if (sockets.WSAAsyncSelect(s, window, WM_NET_UDP, FD_READ | FD_WRITE) == SOCKET_ERROR &&
        sockets.WSAGetLastError() != WSAEWOULDBLOCK) {
        error = sockets.WSAGetLastError();
        Close();
        return false;
    }
    return true;
}

// --- PeerLink ---------------------------------------------------------------

PeerLink::PeerLink(platform::Sockets& socketLayer) : sockets(socketLayer)
{
    for (int i = 0; i < PeerCount; ++i) peers[i].id = i;
}

PeerLink::~PeerLink() { CloseAll(); }

bool PeerLink::Open(HWND notifyWindow, LinkMode mode, const char* host, int port)
{
    // A second Open starts afresh rather than leaking the first one's sockets.
    CloseAll();
    window = notifyWindow;
    acceptDeferred = false;
    for (int i = 0; i < PeerCount; ++i) {
        peers[i].socket = 0;
        peers[i].address = SocketAddress{};
        peers[i].id = i;
    }

    // Probe the sockets layer for the version it offers, then start it
    // with that version.
    WORD highVersion = 0;
    if (sockets.WSAStartup(0x0101, highVersion) != 0) return false;
    if (sockets.WSACleanup() == SOCKET_ERROR) return false;
    if (sockets.WSAStartup(highVersion, highVersion) != 0) return false;
    started = true;

    const char* name = host != nullptr ? host : "";
    if (port < 0 || port > 65535) {
        tcp.error = udp.error = platform::WSAEINVAL;
        if (mode == LinkMode::Client) LogLine("net", "port %d is out of range; no pictures will arrive", port);
        return true;
    }
    if (mode == LinkMode::Server) {
        tcp.Listen(*this, window, port);
        // Asked for any port, the datagrams go to the one the listener got.
        int udpPort = port;
        SocketAddress bound;
        if (port == 0 && tcp.socket != 0 && sockets.LocalAddress(tcp.socket, bound))
            udpPort = platform::NetworkToHost16(bound.port);
        udp.Bind(*this, window, udpPort);
    } else {
        if (!tcp.Connect(*this, window, name, port))
            LogLine("net", "cannot connect to \"%s\" port %d: %s; no pictures will arrive", name, port,
                    platform::SocketErrorText(tcp.error));
        if (!udp.Target(*this, window, name, port) && tcp.error != udp.error)
            LogLine("net", "cannot send to \"%s\" port %d: %s; no pictures will arrive", name, port,
                    platform::SocketErrorText(udp.error));
    }
    return true;
}

int PeerLink::SlotOf(SOCKET socket) const
{
    if (socket == 0) return -1;
    for (int i = 0; i < PeerCount; ++i)
        if (peers[i].socket == socket) return i;
    return -1;
}

bool PeerLink::OnAccept(HWND notifyWindow, SOCKET socket, LPARAM lParam)
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
        // The connection waits in the system's queue; OnClose takes it
        // when a slot frees.
        acceptDeferred = true;
        return false;
    }

    SocketAddress from;
    SOCKET accepted = sockets.accept(tcp.socket, &from);
    if (accepted == INVALID_SOCKET) {
        // NOTE: the slot stays free; a failed accept must not hold it.
        int error = sockets.WSAGetLastError();
        if (!TransientAcceptError(error)) {
            LogLine("net", "accepting a connection failed: %s; no longer listening", platform::SocketErrorText(error));
            tcp.Close();
        }
        return false;
    }
    PeerEntry& peer = peers[slot];
    peer.socket = accepted;
    // The previous occupant's address is not this client's.
    peer.address = SocketAddress{};
    if (sockets.WSAAsyncSelect(accepted, notifyWindow, WM_NET_TCP, FD_READ | FD_CLOSE) != 0) {
        sockets.closesocket(accepted);
        peer.socket = 0;
        return false;
    }
    if (tcp.mode == LinkMode::Server) {
        std::uint8_t greeting[4];
        WriteWord(greeting, GreetingMarker);
        WriteWord(greeting + 2, static_cast<std::int16_t>(peer.id));
        sockets.send(accepted, greeting, sizeof greeting, 0);
    }
    if (sockets.listen(tcp.socket, 0) == SOCKET_ERROR && sockets.WSAGetLastError() != WSAEWOULDBLOCK) {
        tcp.Close();
        return false;
    }
    return true;
}

bool PeerLink::OnConnect(HWND notifyWindow, SOCKET socket, LPARAM lParam)
{
    (void)notifyWindow;
    // The outcome changes nothing; a failure is only worth telling the operator.
    int error = HIWORD(lParam);
    if (error != 0 && SlotOf(socket) >= 0)
        LogLine("net", "cannot connect to %s: %s; no pictures will arrive",
                platform::FormatAddress(peers[0].address).c_str(), platform::SocketErrorText(error));
    return true;
}

bool PeerLink::OnClose(HWND notifyWindow, SOCKET socket, LPARAM lParam)
{
    (void)lParam;
    int slot = SlotOf(socket);
    if (slot < 0) return false;
    // NOTE: the handle is closed too, so that a long-running server does not
    // run out of descriptors as clients come and go.
    sockets.closesocket(socket);
    peers[slot].socket = 0;
    if (tcp.mode == LinkMode::Server && acceptDeferred && tcp.socket != 0) {
        acceptDeferred = false;
        OnAccept(notifyWindow, tcp.socket, FD_ACCEPT);
    }
    return true;
}

bool PeerLink::OnTcpRead(HWND notifyWindow, SOCKET socket, LPARAM lParam)
{
    (void)notifyWindow;
    (void)lParam;
    if (SlotOf(socket) < 0) return false;
    int got = sockets.recv(socket, tcpBuffer, TcpReadSize, 0);
    if (got < 0) return true;
    // NOTE: a read too short to hold a whole Greeting is not judged at all;
    // the buffer beyond it still holds an earlier read.
    if (got < 4) return false;
    if (ReadWord(tcpBuffer) != GreetingMarker) return false;
    ownId = ReadWord(tcpBuffer + 2);
    std::uint8_t registration[4];
    WriteWord(registration, RegistrationMarker);
    WriteWord(registration + 2, static_cast<std::int16_t>(ownId));
    SendToPeers(registration, sizeof registration);
    return true;
}

bool PeerLink::OnUdpRead(HWND notifyWindow, SOCKET socket, LPARAM lParam)
{
    (void)notifyWindow;
    (void)lParam;
    if (udp.socket == 0 || socket != udp.socket) return false;
    SocketAddress from;
    int got = sockets.recvfrom(udp.socket, udpBuffer, UdpBufferSize, 0, &from);
    if (got < 4) return false;
    if (ReadWord(udpBuffer) != RegistrationMarker) return false;
    int id = ReadWord(udpBuffer + 2);
    // An id outside the table is refused rather than written past it.
    if (id < 0 || id >= PeerCount) return false;
    peers[id].address = from;
    return true;
}

bool PeerLink::HandleMessage(HWND notifyWindow, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto socket = static_cast<SOCKET>(wParam);
    LPARAM event = LOWORD(lParam);
    if (message == WM_NET_TCP) {
        switch (event) {
        case FD_READ: OnTcpRead(notifyWindow, socket, lParam); return true;
        case FD_ACCEPT: OnAccept(notifyWindow, socket, lParam); return true;
        case FD_CONNECT: OnConnect(notifyWindow, socket, lParam); return true;
        case FD_CLOSE: OnClose(notifyWindow, socket, lParam); return true;
        default: return false;
        }
    }
    if (message == WM_NET_UDP && event == FD_READ) {
        OnUdpRead(notifyWindow, socket, lParam);
        return true;
    }
    return false;
}

void PeerLink::SendToPeers(const void* bytes, int length)
{
    if (udp.socket == 0 || bytes == nullptr || length < 0) return;
    for (const PeerEntry& peer : peers) {
        if (peer.socket == 0 || peer.address.family == 0) continue;
        sockets.sendto(udp.socket, bytes, length, 0, peer.address);
    }
}

void PeerLink::CloseAll()
{
    for (PeerEntry& peer : peers) {
        if (peer.socket == 0) continue;
        sockets.shutdown(peer.socket, platform::SD_BOTH);
        sockets.closesocket(peer.socket);
        peer.socket = 0;
    }
    if (started) {
        sockets.WSACleanup();
        started = false;
    }
}
