// The sockets of the peer link and what both ends do with them alike: set
// them up, start and stop the sockets layer, dispatch their events and send
// datagrams to the peer table.
#include "net/PeerChannel.h"

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

// --- Channels ---------------------------------------------------------------

Channel::~Channel() { Close(); }

void Channel::Close()
{
    if (socket != 0 && owner != nullptr) owner->sockets.closesocket(socket);
    socket = 0;
}

bool Channel::SetUp(PeerChannel& link, HWND notifyWindow, SocketType type, std::uint16_t family, SOCKET& into,
                    std::initializer_list<Step> steps)
{
    Close();
    owner = &link;
    window = notifyWindow;
    error = 0;
    platform::Sockets& sockets = link.sockets;
    SOCKET s = sockets.socket(type, family);
    if (s == INVALID_SOCKET) {
        error = sockets.WSAGetLastError();
        return false;
    }
    into = s;
    for (const Step& step : steps) {
        if (step(s)) continue;
        error = sockets.WSAGetLastError();
        sockets.closesocket(s);
        into = 0;
        return false;
    }
    return true;
}

bool TcpChannel::Listen(PeerChannel& link, HWND notifyWindow, const SocketAddress& local)
{
    platform::Sockets& s = link.sockets;
    return SetUp(link, notifyWindow, SocketType::Stream, local.family, socket,
                 {[&](SOCKET h) { return s.WSAAsyncSelect(h, window, WM_NET_TCP, FD_ACCEPT) == 0; },
                  [&](SOCKET h) { return s.bind(h, local) != SOCKET_ERROR; },
                  [&](SOCKET h) { return s.listen(h, 0) != SOCKET_ERROR || s.WSAGetLastError() == WSAEWOULDBLOCK; }});
}

bool TcpChannel::Connect(PeerChannel& link, HWND notifyWindow, const SocketAddress& server)
{
    platform::Sockets& s = link.sockets;
    // The connection completes in the background and is announced by FD_CONNECT.
    return SetUp(link, notifyWindow, SocketType::Stream, server.family, link.peers[0].socket,
                 {[&](SOCKET h) {
                      s.WSAAsyncSelect(h, window, WM_NET_TCP, FD_READ | FD_CONNECT | FD_CLOSE);
                      return true;
                  },
                  [&](SOCKET h) {
                      return s.connect(h, server) != SOCKET_ERROR || s.WSAGetLastError() == WSAEWOULDBLOCK;
                  }});
}

bool UdpChannel::Bind(PeerChannel& link, HWND notifyWindow, const SocketAddress& local)
{
    platform::Sockets& s = link.sockets;
    return SetUp(link, notifyWindow, SocketType::Datagram, local.family, socket,
                 {[&](SOCKET h) { return s.bind(h, local) != SOCKET_ERROR; },
                  [&](SOCKET h) {
                      return s.WSAAsyncSelect(h, window, WM_NET_UDP, FD_READ) != SOCKET_ERROR ||
                             s.WSAGetLastError() == WSAEWOULDBLOCK;
                  }});
}

bool UdpChannel::Target(PeerChannel& link, HWND notifyWindow, const SocketAddress& server)
{
    platform::Sockets& s = link.sockets;
    link.peers[0].address = server;
    // NOTE: not bound: the system picks the local port at the first send
    // (the Registration), and that is the address the server learns.
    return SetUp(link, notifyWindow, SocketType::Datagram, server.family, socket,
                 {[&](SOCKET h) {
                     return s.WSAAsyncSelect(h, window, WM_NET_UDP, FD_READ | FD_WRITE) != SOCKET_ERROR ||
                            s.WSAGetLastError() == WSAEWOULDBLOCK;
                 }});
}

// --- PeerChannel ------------------------------------------------------------

PeerChannel::PeerChannel(platform::Sockets& socketLayer) : sockets(socketLayer)
{
    for (int i = 0; i < PeerCount; ++i) peers[i].id = i;
}

PeerChannel::~PeerChannel() { CloseAll(); }

bool PeerChannel::Restart(HWND notifyWindow)
{
    // A second Open starts afresh rather than leaking the first one's sockets.
    CloseAll();
    tcp.Close();
    udp.Close();
    window = notifyWindow;
    for (int i = 0; i < PeerCount; ++i) {
        peers[i] = PeerEntry{};
        peers[i].id = i;
    }

    // Probe the sockets layer for the version it offers, then start it
    // with that version.
    WORD highVersion = 0;
    if (sockets.WSAStartup(0x0101, highVersion) != 0) return false;
    if (sockets.WSACleanup() == SOCKET_ERROR) return false;
    if (sockets.WSAStartup(highVersion, highVersion) != 0) return false;
    started = true;
    return true;
}

int PeerChannel::SlotOf(SOCKET socket) const
{
    if (socket == 0) return -1;
    for (int i = 0; i < PeerCount; ++i)
        if (peers[i].socket == socket) return i;
    return -1;
}

bool PeerChannel::OnAccept(HWND, SOCKET, LPARAM) { return false; }
bool PeerChannel::OnConnect(HWND, SOCKET, LPARAM) { return false; }
bool PeerChannel::OnClose(HWND, SOCKET, LPARAM) { return false; }
bool PeerChannel::OnTcpRead(HWND, SOCKET, LPARAM) { return false; }
bool PeerChannel::OnUdpRead(HWND, SOCKET, LPARAM) { return false; }

bool PeerChannel::HandleMessage(HWND notifyWindow, UINT message, WPARAM wParam, LPARAM lParam)
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

void PeerChannel::SendToPeers(const void* bytes, int length)
{
    if (udp.socket == 0 || bytes == nullptr || length < 0) return;
    for (const PeerEntry& peer : peers) {
        if (peer.socket == 0 || peer.address.family == 0) continue;
        sockets.sendto(udp.socket, bytes, length, 0, peer.address);
    }
}

void PeerChannel::CloseAll()
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
