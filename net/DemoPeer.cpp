// The demo peer's start and its one-picture-per-interval sending.
#include "net/DemoPeer.h"

#include "common/Log.h"
#include "net/GeneratedPicture.h"

DemoPeer::DemoPeer(platform::Sockets& sockets, platform::Clock& clock, DWORD intervalMs)
    : server_(sockets), clock_(clock), interval_(intervalMs), picture_(GeneratedPictureBytes)
{
    window_.queue = &queue_;
    server_.UseClock(clock_);
}

bool DemoPeer::Start()
{
    server_.SetListenAddress(platform::HostToNetwork32(0x7F000001u));
    if (!server_.Open(&window_, 0) || server_.Tcp().socket == 0 ||
        server_.Udp().socket == 0) {
        int error = server_.Tcp().error != 0 ? server_.Tcp().error : server_.Udp().error;
        LogLine("net", "the built-in demo peer cannot listen on loopback: %s", platform::SocketErrorText(error));
        return false;
    }
    platform::SocketAddress bound;
    if (!server_.SocketLayer().LocalAddress(server_.Tcp().socket, bound)) return false;
    port_ = platform::NetworkToHost16(bound.port);
    lastSend_ = clock_.Milliseconds();
    return true;
}

void DemoPeer::Poll()
{
    MSG msg;
    while (queue_.Get(msg)) server_.HandleMessage(msg.hwnd, msg.message, msg.wParam, msg.lParam);
    if (port_ == 0) return;
    server_.Update();

    DWORD now = clock_.Milliseconds();
    // Unsigned difference: the clock wraps like timeGetTime.
    if (now - lastSend_ < interval_) return;
    lastSend_ = now;
    bool anyRegistered = false;
    for (int i = 0; i < PeerServer::PeerCount; ++i)
        anyRegistered = anyRegistered || (server_.Peer(i).socket != 0 && server_.Peer(i).address.family != 0);
    if (!anyRegistered) return;
    pattern_.Fill(sent_, picture_.data());
    server_.SendToPeers(picture_.data(), static_cast<int>(picture_.size()));
    ++sent_;
}
