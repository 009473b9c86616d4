// The handshake of the peer link: channel set-up for both modes, the event
// handlers, the peer table, and the timers that keep a client with its peer
// and keep idle connections from holding a server's slots.
#include "net/PeerLink.h"

#include <algorithm>
#include <cstring>

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

const char* LinkStateName(LinkState state)
{
    switch (state) {
    case LinkState::Connecting: return "connecting";
    case LinkState::Connected: return "connected";
    case LinkState::Lost: return "lost";
    case LinkState::None: break;
    }
    return "none";
}

int RegistrationSlot(const std::uint8_t* bytes, int length, const SocketAddress& from,
                     const PeerEntry (&peers)[PeerLink::PeerCount])
{
    if (bytes == nullptr || length < 4 || ReadWord(bytes) != PeerLink::RegistrationMarker) return -1;
    int id = ReadWord(bytes + 2);
    // An id outside the table is refused rather than written past it.
    if (id < 0 || id >= PeerLink::PeerCount) return -1;
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

// "host:port", with an IPv6 address in brackets.
std::string HostAndPort(const std::string& host, int port)
{
    bool v6 = host.find(':') != std::string::npos && host.front() != '[';
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

}  // namespace

// --- Channels ---------------------------------------------------------------

Channel::~Channel() { Close(); }

void Channel::Close()
{
    if (socket != 0 && owner != nullptr) owner->sockets.closesocket(socket);
    socket = 0;
}

bool Channel::SetUp(PeerLink& link, HWND notifyWindow, LinkMode linkMode, SocketType type, std::uint16_t family,
                    SOCKET& into, std::initializer_list<Step> steps)
{
    Close();
    owner = &link;
    window = notifyWindow;
    mode = linkMode;
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

bool TcpChannel::Listen(PeerLink& link, HWND notifyWindow, const SocketAddress& local)
{
    platform::Sockets& s = link.sockets;
    return SetUp(link, notifyWindow, LinkMode::Server, SocketType::Stream, local.family, socket,
                 {[&](SOCKET h) { return s.WSAAsyncSelect(h, window, WM_NET_TCP, FD_ACCEPT) == 0; },
                  [&](SOCKET h) { return s.bind(h, local) != SOCKET_ERROR; },
                  [&](SOCKET h) { return s.listen(h, 0) != SOCKET_ERROR || s.WSAGetLastError() == WSAEWOULDBLOCK; }});
}

bool TcpChannel::Connect(PeerLink& link, HWND notifyWindow, const SocketAddress& server)
{
    platform::Sockets& s = link.sockets;
    // The connection completes in the background and is announced by FD_CONNECT.
    return SetUp(link, notifyWindow, LinkMode::Client, SocketType::Stream, server.family, link.peers[0].socket,
                 {[&](SOCKET h) {
                      s.WSAAsyncSelect(h, window, WM_NET_TCP, FD_READ | FD_CONNECT | FD_CLOSE);
                      return true;
                  },
                  [&](SOCKET h) {
                      return s.connect(h, server) != SOCKET_ERROR || s.WSAGetLastError() == WSAEWOULDBLOCK;
                  }});
}

bool UdpChannel::Bind(PeerLink& link, HWND notifyWindow, const SocketAddress& local)
{
    platform::Sockets& s = link.sockets;
    return SetUp(link, notifyWindow, LinkMode::Server, SocketType::Datagram, local.family, socket,
                 {[&](SOCKET h) { return s.bind(h, local) != SOCKET_ERROR; },
                  [&](SOCKET h) {
                      return s.WSAAsyncSelect(h, window, WM_NET_UDP, FD_READ) != SOCKET_ERROR ||
                             s.WSAGetLastError() == WSAEWOULDBLOCK;
                  }});
}

bool UdpChannel::Target(PeerLink& link, HWND notifyWindow, const SocketAddress& server)
{
    platform::Sockets& s = link.sockets;
    link.peers[0].address = server;
    // NOTE: not bound: the system picks the local port at the first send
    // (the Registration), and that is the address the server learns.
    return SetUp(link, notifyWindow, LinkMode::Client, SocketType::Datagram, server.family, socket,
                 {[&](SOCKET h) {
                     return s.WSAAsyncSelect(h, window, WM_NET_UDP, FD_READ | FD_WRITE) != SOCKET_ERROR ||
                            s.WSAGetLastError() == WSAEWOULDBLOCK;
                 }});
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
    tcp.Close();
    udp.Close();
    window = notifyWindow;
    linkMode = mode;
    acceptDeferred = false;
    refusedRegistrations = 0;
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

    if (port < 0 || port > 65535) {
        tcp.error = udp.error = platform::WSAEINVAL;
        if (mode == LinkMode::Client) LogWarning("net", "port %d is out of range; no pictures will arrive", port);
        return true;
    }
    if (mode == LinkMode::Server) {
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
    peerHost = host != nullptr ? host : "";
    peerPort = port;
    nextCandidate = 0;
    retryPause = FirstRetryMs;
    troubleReported = false;
    state = LinkState::Connecting;
    StartConnection();
    return true;
}

void PeerLink::StartConnection()
{
    std::vector<SocketAddress> candidates;
    if (!sockets.Resolve(peerHost.c_str(), candidates)) {
        tcp.error = sockets.WSAGetLastError();
        RetryLater("host not found", 0);
        return;
    }
    // A name with several addresses (localhost: ::1 and 127.0.0.1) is tried
    // one address per attempt.
    SocketAddress server = candidates[nextCandidate++ % candidates.size()];
    server.port = platform::HostToNetwork16(static_cast<std::uint16_t>(peerPort));
    greetings.Reset();
    // The UDP socket is kept while the family stays, so its address does too.
    if (udp.socket == 0 || peers[0].address.family != server.family) {
        if (!udp.Target(*this, window, server)) {
            RetryLater("cannot make a UDP socket", udp.error);
            return;
        }
    } else {
        peers[0].address = server;
    }
    if (!tcp.Connect(*this, window, server)) RetryLater("cannot connect", tcp.error);
}

void PeerLink::RetryLater(const char* why, int error)
{
    if (peers[0].socket != 0) {
        sockets.closesocket(peers[0].socket);
        peers[0].socket = 0;
    }
    greetings.Reset();
    std::string reason = why;
    if (error != 0) reason += std::string(": ") + platform::SocketErrorText(error);
    // NOTE: one line per outage, however many attempts it takes.
    if (!troubleReported) {
        troubleReported = true;
        std::string peer = HostAndPort(peerHost, peerPort);
        if (state == LinkState::Connected)
            LogWarning("net", "lost the peer %s (%s); trying again, at least every %u s", peer.c_str(),
                       reason.c_str(), static_cast<unsigned>(LongestRetryMs / 1000));
        else
            LogWarning("net", "cannot reach the peer %s (%s); no pictures until it answers, trying again at least every %u s",
                       peer.c_str(), reason.c_str(), static_cast<unsigned>(LongestRetryMs / 1000));
    }
    if (state == LinkState::Connected) state = LinkState::Lost;
    retryPending = true;
    retryAt = Now() + retryPause;
    retryPause = std::min(retryPause * 2, LongestRetryMs);
}

void PeerLink::Update()
{
    if (!started) return;
    DWORD now = Now();
    if (linkMode == LinkMode::Server) {
        ExpireSilentConnections(now);
        return;
    }
    // Signed difference: the clock wraps like timeGetTime.
    if (retryPending && static_cast<std::int32_t>(now - retryAt) >= 0) {
        retryPending = false;
        StartConnection();
    }
}

void PeerLink::ExpireSilentConnections(DWORD now)
{
    for (int i = 0; i < PeerCount; ++i) {
        const PeerEntry& peer = peers[i];
        if (peer.socket != 0 && peer.address.family == 0 && now - peer.acceptedAt >= RegistrationTimeoutMs)
            Disconnect(i);
    }
}

void PeerLink::NoteContact()
{
    contacted = true;
    lastContact = Now();
}

int PeerLink::SlotOf(SOCKET socket) const
{
    if (socket == 0) return -1;
    for (int i = 0; i < PeerCount; ++i)
        if (peers[i].socket == socket) return i;
    return -1;
}

void PeerLink::Disconnect(int slot)
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
    if (linkMode == LinkMode::Server && acceptDeferred && tcp.socket != 0) {
        acceptDeferred = false;
        // Not the override: whoever called this reports the change.
        PeerLink::OnAccept(window, tcp.socket, FD_ACCEPT);
    }
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
    int error = HIWORD(lParam);
    if (error != 0 && linkMode == LinkMode::Client && SlotOf(socket) == 0) RetryLater("cannot connect", error);
    return true;
}

bool PeerLink::OnClose(HWND notifyWindow, SOCKET socket, LPARAM lParam)
{
    (void)notifyWindow;
    (void)lParam;
    int slot = SlotOf(socket);
    if (slot < 0) return false;
    if (linkMode == LinkMode::Client) {
        RetryLater("the connection closed", HIWORD(lParam));
        return true;
    }
    Disconnect(slot);
    return true;
}

bool PeerLink::OnTcpRead(HWND notifyWindow, SOCKET socket, LPARAM lParam)
{
    (void)notifyWindow;
    (void)lParam;
    if (SlotOf(socket) < 0) return false;
    int got = sockets.recv(socket, tcpBuffer, TcpReadSize, 0);
    if (got < 0) return true;
    // A server has nothing to learn from what its clients send over TCP;
    // reading it only keeps the connection flowing.
    if (linkMode == LinkMode::Server) return false;
    std::int16_t id = 0;
    if (!greetings.Feed(tcpBuffer, got, id)) return false;
    ownId = id;
    std::uint8_t registration[4];
    WriteWord(registration, RegistrationMarker);
    WriteWord(registration + 2, static_cast<std::int16_t>(ownId));
    SendToPeers(registration, sizeof registration);
    NoteContact();
    if (state != LinkState::Connected) {
        std::string peer = HostAndPort(peerHost, peerPort);
        if (troubleReported)
            LogLine("net", "the peer %s is back; registered as installation %d", peer.c_str(), static_cast<int>(ownId));
        else
            LogLine("net", "connected to the peer %s; registered as installation %d", peer.c_str(),
                    static_cast<int>(ownId));
        state = LinkState::Connected;
    }
    troubleReported = false;
    retryPause = FirstRetryMs;
    return true;
}

bool PeerLink::OnUdpRead(HWND notifyWindow, SOCKET socket, LPARAM lParam)
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
    retryPending = false;
    state = LinkState::None;
    if (started) {
        sockets.WSACleanup();
        started = false;
    }
}
