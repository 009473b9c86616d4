// Start-up, reporting and sending of the peer program's server.
#include "PictureServer.h"

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

bool PictureServer::Start(HWND notifyWindow, int port, std::string& error)
{
    if (!Open(notifyWindow, port)) {
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

bool PictureServer::IsRegistered(int slot) const
{
    return peers[slot].socket != 0 && peers[slot].address.family != 0;
}

int PictureServer::RegisteredCount() const
{
    int count = 0;
    for (int i = 0; i < PeerCount; ++i) count += IsRegistered(i) ? 1 : 0;
    return count;
}

int PictureServer::SendPicture(const void* bytes, int length)
{
    int count = RegisteredCount();
    if (count == 0) return 0;
    SendToPeers(bytes, length);
    for (int i = 0; i < PeerCount; ++i)
        if (IsRegistered(i)) ++sentTo_[i];
    return count;
}

std::string PictureServer::TakeSummary()
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
    if (placesRefused_ > 0)
        text += "; " + std::to_string(placesRefused_) + " connection" + (placesRefused_ == 1 ? "" : "s") +
                " closed (their address already held " + std::to_string(placesPerAddress_) + " place" +
                (placesPerAddress_ == 1 ? "" : "s") + ")";
    placesRefused_ = 0;
    return text;
}

bool PictureServer::LimitPlacesPerAddress()
{
    for (int i = 0; i < PeerCount; ++i) {
        if (peers[i].socket == 0) continue;
        int held = 0;   // places of this address, this one among them
        int newest = i;
        for (int j = 0; j < PeerCount; ++j) {
            if (peers[j].socket == 0 || !platform::SameHost(peers[j].connectedFrom, peers[i].connectedFrom)) continue;
            ++held;
            // Signed difference: the clock wraps.
            const auto age = static_cast<std::int32_t>(peers[j].acceptedAt - peers[newest].acceptedAt);
            if (age > 0 || (age == 0 && j > newest)) newest = j;
        }
        if (held <= placesPerAddress_) continue;
        if (!placeRefusalLogged_) {
            // Once: the summary counts the rest, so a host that keeps trying cannot flood the log.
            placeRefusalLogged_ = true;
            LogWarning("peer", "closed a connection from %s: that address already holds %d place%s "
                       "(--places-per-address); further ones are counted in the summary",
                       platform::FormatAddress(peers[newest].connectedFrom).c_str(), placesPerAddress_,
                       placesPerAddress_ == 1 ? "" : "s");
        }
        ++placesRefused_;
        Disconnect(newest);
        return true;
    }
    return false;
}

void PictureServer::ReportChanges(const PeerEntry (&before)[PeerCount], const char* leaving)
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

bool PictureServer::OnAccept(HWND notifyWindow, platform::SOCKET socket, LPARAM lParam)
{
    PeerEntry before[PeerCount];
    std::copy(std::begin(peers), std::end(peers), before);
    bool taken = PeerServer::OnAccept(notifyWindow, socket, lParam);
    // A freed place may take a waiting connection of the same address again: bounded.
    for (int i = 0; i < 2 * PeerCount && LimitPlacesPerAddress(); ++i) {
    }
    ReportChanges(before, "left");
    if (!taken && tcp.socket == 0) LogLine("peer", "stopped listening; restart solvane-peer to accept installations");
    bool full = true;
    for (const PeerEntry& peer : peers) full = full && peer.socket != 0;
    if (!taken && full) LogLine("peer", "all eight places are taken; another installation waits until one leaves");
    return taken;
}

bool PictureServer::OnClose(HWND notifyWindow, platform::SOCKET socket, LPARAM lParam)
{
    PeerEntry before[PeerCount];
    std::copy(std::begin(peers), std::end(peers), before);
    bool closed = PeerServer::OnClose(notifyWindow, socket, lParam);
    for (int i = 0; i < 2 * PeerCount && LimitPlacesPerAddress(); ++i) {
    }
    ReportChanges(before);
    return closed;
}

void PictureServer::Update()
{
    PeerEntry before[PeerCount];
    std::copy(std::begin(peers), std::end(peers), before);
    PeerServer::Update();
    for (int i = 0; i < 2 * PeerCount && LimitPlacesPerAddress(); ++i) {
    }
    ReportChanges(before, "did not register within 10 s; its connection was closed");
}

bool PictureServer::OnUdpRead(HWND notifyWindow, platform::SOCKET socket, LPARAM lParam)
{
    PeerEntry before[PeerCount];
    std::copy(std::begin(peers), std::end(peers), before);
    bool registered = PeerServer::OnUdpRead(notifyWindow, socket, lParam);
    ReportChanges(before);
    return registered;
}
