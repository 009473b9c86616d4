// Start-up, reporting and sending of the peer program's server.
#include "PeerServer.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "common/Log.h"

std::string DescribeBindFailure(const char* what, int port, int error)
{
    std::string text = std::string("cannot serve ") + what + " on port " + std::to_string(port) + ": ";
    if (error == platform::WSAEACCES) {
        text += "permission denied";
        if (port < 1024) text += " (ports below 1024 need administrator privileges; choose a port from 1024 to 65535)";
    } else if (error == platform::WSAEADDRINUSE) {
        text += "the port is already in use by another program (is another solvane-peer running?)";
    } else {
        text += platform::SocketErrorText(error);
    }
    return text;
}

bool PeerServer::Start(HWND notifyWindow, int port, std::string& error)
{
    if (!Open(notifyWindow, LinkMode::Server, "", port)) {
        error = "cannot start the sockets layer";
        return false;
    }
    if (tcp.socket == 0) {
        error = DescribeBindFailure("TCP", port, tcp.error);
        return false;
    }
    platform::SocketAddress bound;
    port_ = sockets.LocalAddress(tcp.socket, bound) ? platform::NetworkToHost16(bound.port) : port;
    if (udp.socket == 0) {
        error = DescribeBindFailure("UDP", port_, udp.error);
        return false;
    }
    return true;
}

bool PeerServer::IsRegistered(int slot) const
{
    return peers[slot].socket != 0 && peers[slot].address.family != 0;
}

int PeerServer::RegisteredCount() const
{
    int count = 0;
    for (int i = 0; i < PeerCount; ++i) count += IsRegistered(i) ? 1 : 0;
    return count;
}

int PeerServer::SendPicture(const void* bytes, int length)
{
    int count = RegisteredCount();
    if (count == 0) return 0;
    SendToPeers(bytes, length);
    for (int i = 0; i < PeerCount; ++i)
        if (IsRegistered(i)) ++sentTo_[i];
    return count;
}

std::string PeerServer::TakeSummary()
{
    std::string text;
    for (int i = 0; i < PeerCount; ++i) {
        if (sentTo_[i] == 0) continue;
        if (!text.empty()) text += ", ";
        text += "installation " + std::to_string(i) + ": " + std::to_string(sentTo_[i]) + " picture" +
                (sentTo_[i] == 1 ? "" : "s");
        sentTo_[i] = 0;
    }
    if (text.empty()) text = "no pictures sent";
    std::uint64_t refused = RefusedRegistrations() - refusedBefore_;
    refusedBefore_ = RefusedRegistrations();
    if (refused > 0)
        text += "; " + std::to_string(refused) + " registration" + (refused == 1 ? "" : "s") +
                " refused (not from the installation's own address)";
    return text;
}

void PeerServer::ReportChanges(const PeerEntry (&before)[PeerCount], const char* leaving)
{
    for (int i = 0; i < PeerCount; ++i) {
        const PeerEntry& now = peers[i];
        if (before[i].socket != 0 && now.socket != before[i].socket)
            LogLine("peer", "installation %d %s", i, leaving);
        if (now.socket != 0 && now.socket != before[i].socket)
            LogLine("peer", "installation %d connected and greeted", i);
        if (IsRegistered(i) && std::memcmp(&now.address, &before[i].address, sizeof now.address) != 0)
            LogLine("peer", "installation %d registered; pictures go to %s", i,
                    platform::FormatAddress(now.address).c_str());
    }
}

bool PeerServer::OnAccept(HWND notifyWindow, platform::SOCKET socket, LPARAM lParam)
{
    PeerEntry before[PeerCount];
    std::copy(std::begin(peers), std::end(peers), before);
    bool taken = PeerLink::OnAccept(notifyWindow, socket, lParam);
    ReportChanges(before);
    if (!taken && tcp.socket == 0) LogLine("peer", "stopped listening; restart solvane-peer to accept installations");
    bool full = true;
    for (const PeerEntry& peer : peers) full = full && peer.socket != 0;
    if (!taken && full) LogLine("peer", "all eight places are taken; another installation waits until one leaves");
    return taken;
}

bool PeerServer::OnClose(HWND notifyWindow, platform::SOCKET socket, LPARAM lParam)
{
    PeerEntry before[PeerCount];
    std::copy(std::begin(peers), std::end(peers), before);
    bool closed = PeerLink::OnClose(notifyWindow, socket, lParam);
    ReportChanges(before);
    return closed;
}

void PeerServer::Update()
{
    PeerEntry before[PeerCount];
    std::copy(std::begin(peers), std::end(peers), before);
    PeerLink::Update();
    ReportChanges(before, "did not register within 10 s; its connection was closed");
}

bool PeerServer::OnUdpRead(HWND notifyWindow, platform::SOCKET socket, LPARAM lParam)
{
    PeerEntry before[PeerCount];
    std::copy(std::begin(peers), std::end(peers), before);
    bool registered = PeerLink::OnUdpRead(notifyWindow, socket, lParam);
    ReportChanges(before);
    return registered;
}
