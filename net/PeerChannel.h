// What both ends of the peer link share: the sockets layer's start-up, a
// TCP and a UDP socket whose events arrive as window messages, the table of
// eight peer slots, and the handshake's 16-bit little-endian words.
//
// Wire formats:
//   Greeting      TCP, server -> client: FF FF, id
//   Registration  UDP, client -> server: FE FF, id
//   Picture       UDP, server -> client: 49152 bytes (see net/NetLink.h)
//
// The client (net/PeerLink.h) and the server (net/PeerServer.h) each handle
// the events of their own side. Everything runs on the window's thread:
// HandleMessage for the socket events, and Update, which the owner calls
// every loop pass (or at least a few times a second) for the timers.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>

#include "common/NonCopyable.h"
#include "platform/sockets/Sockets.h"
#include "platform/system/Clock.h"
#include "platform/system/win32types.h"

// One slot of the peer table.
struct PeerEntry {
    platform::SOCKET socket = 0;        // TCP connection of this peer, 0 = slot free
    platform::SocketAddress address{};  // where datagrams for this peer go (family 0: not known yet)
    std::int32_t id = 0;                // the slot's own index
    // Server only: the far end of the TCP connection, and when it was taken.
    platform::SocketAddress connectedFrom{};
    DWORD acceptedAt = 0;
};

class PeerChannel;

// What the two sockets share: the socket and the set-up bookkeeping.
class Channel {
public:
    ~Channel();
    void Close();

    PeerChannel* owner = nullptr;
    HWND window = nullptr;
    platform::SOCKET socket = 0;
    int error = 0;  // Winsock error of the last failed set-up, 0 if none

protected:
    // One set-up step on the new socket; false when it failed (the error is
    // then read from the sockets layer).
    using Step = std::function<bool(platform::SOCKET)>;
    // Creates a socket of the type and family into `into`, then runs the
    // steps in order. The first failing step records the error and closes
    // the socket (and zeroes `into`).
    bool SetUp(PeerChannel& link, HWND notifyWindow, platform::SocketType type, std::uint16_t family,
               platform::SOCKET& into, std::initializer_list<Step> steps);
};

// The TCP side: a server's listening socket. A client's connection lives in
// peer slot 0 instead, so a client's channel socket stays 0.
class TcpChannel : public Channel {
public:
    bool Listen(PeerChannel& link, HWND window, const platform::SocketAddress& local);
    bool Connect(PeerChannel& link, HWND window, const platform::SocketAddress& server);
};

// The UDP side, at both ends.
class UdpChannel : public Channel {
public:
    bool Bind(PeerChannel& link, HWND window, const platform::SocketAddress& local);
    // Slot 0 gets the server's address; the socket is left unbound.
    bool Target(PeerChannel& link, HWND window, const platform::SocketAddress& server);
};

class PeerChannel : NonCopyable {
public:
    static constexpr int PeerCount = 8;
    static constexpr int TcpBufferSize = 256;
    static constexpr int TcpReadSize = 8;
    static constexpr int UdpBufferSize = 49152;  // one image datagram
    static constexpr std::int16_t GreetingMarker = -1;
    static constexpr std::int16_t RegistrationMarker = -2;
    // The most datagrams one read notification takes off the UDP socket.
    static constexpr int DatagramsPerEvent = 64;

    // The sockets layer must outlive the channel.
    explicit PeerChannel(platform::Sockets& sockets);
    virtual ~PeerChannel();

    // The events of each side; false when the event was not this side's.
    virtual bool OnAccept(HWND window, platform::SOCKET socket, LPARAM lParam);
    virtual bool OnConnect(HWND window, platform::SOCKET socket, LPARAM lParam);
    virtual bool OnClose(HWND window, platform::SOCKET socket, LPARAM lParam);
    virtual bool OnTcpRead(HWND window, platform::SOCKET socket, LPARAM lParam);
    virtual bool OnUdpRead(HWND window, platform::SOCKET socket, LPARAM lParam);

    // Hands WM_NET_TCP and WM_NET_UDP events to the handlers; true when the
    // message was a socket event of this link that it handled.
    bool HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // The timers. Does nothing until Open.
    virtual void Update() {}
    // One datagram to every peer slot that is connected and has an address.
    void SendToPeers(const void* bytes, int length);
    // Shuts down and closes every peer connection, then stops the sockets layer.
    void CloseAll();

    // The clock of the timers (a wall clock unless told); it must outlive the link.
    void UseClock(platform::Clock& clock) { clock_ = &clock; }

    const PeerEntry& Peer(int index) const { return peers[index]; }
    const TcpChannel& Tcp() const { return tcp; }
    const UdpChannel& Udp() const { return udp; }
    platform::Sockets& SocketLayer() const { return sockets; }

protected:
    // Closes what an earlier Open left, empties the peer table and starts
    // the sockets layer; false when the layer cannot be started.
    bool Restart(HWND notifyWindow);
    bool Started() const { return started; }
    // The slot that holds this TCP socket, or -1.
    int SlotOf(platform::SOCKET socket) const;
    DWORD Now() { return clock_->Milliseconds(); }

    platform::Sockets& sockets;
    HWND window = nullptr;
    TcpChannel tcp;
    UdpChannel udp;
    std::uint8_t tcpBuffer[TcpBufferSize] = {};
    std::uint8_t udpBuffer[UdpBufferSize] = {};
    PeerEntry peers[PeerCount];

private:
    friend class Channel;
    friend class TcpChannel;
    friend class UdpChannel;

    platform::SystemClock ownClock_;
    platform::Clock* clock_ = &ownClock_;
    bool started = false;
};

// Little-endian 16-bit fields of the handshake packets.
void WriteWord(std::uint8_t* bytes, std::int16_t value);
std::int16_t ReadWord(const std::uint8_t* bytes);
