// The client's handshake: connection attempts and their retries, the
// Greeting, and the Registration that answers it.
#include "net/PeerLink.h"

#include <algorithm>
#include <vector>

#include "common/Log.h"

using platform::SOCKET;
using platform::SocketAddress;

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

namespace {

// "host:port", with an IPv6 address in brackets.
std::string HostAndPort(const std::string& host, int port)
{
    bool v6 = host.find(':') != std::string::npos && host.front() != '[';
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

}  // namespace

PeerLink::PeerLink(platform::Sockets& socketLayer) : PeerChannel(socketLayer) {}

PeerLink::~PeerLink() { CloseAll(); }

bool PeerLink::Open(HWND notifyWindow, const char* host, int port)
{
    CloseAll();
    if (!Restart(notifyWindow)) return false;
    if (port < 0 || port > 65535) {
        tcp.error = udp.error = platform::WSAEINVAL;
        LogWarning("net", "port %d is out of range; no pictures will arrive", port);
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

void PeerLink::CloseAll()
{
    PeerChannel::CloseAll();
    retryPending = false;
    state = LinkState::None;
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
    if (!Started()) return;
    DWORD now = Now();
    // Signed difference: the clock wraps like timeGetTime.
    if (retryPending && static_cast<std::int32_t>(now - retryAt) >= 0) {
        retryPending = false;
        StartConnection();
    }
}

void PeerLink::NoteContact()
{
    contacted = true;
    lastContact = Now();
}

bool PeerLink::OnConnect(HWND notifyWindow, SOCKET socket, LPARAM lParam)
{
    (void)notifyWindow;
    int error = HIWORD(lParam);
    if (error != 0 && SlotOf(socket) == 0) RetryLater("cannot connect", error);
    return true;
}

bool PeerLink::OnClose(HWND notifyWindow, SOCKET socket, LPARAM lParam)
{
    (void)notifyWindow;
    if (SlotOf(socket) < 0) return false;
    RetryLater("the connection closed", HIWORD(lParam));
    return true;
}

bool PeerLink::OnTcpRead(HWND notifyWindow, SOCKET socket, LPARAM lParam)
{
    (void)notifyWindow;
    (void)lParam;
    if (SlotOf(socket) < 0) return false;
    int got = sockets.recv(socket, tcpBuffer, TcpReadSize, 0);
    if (got < 0) return true;
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
