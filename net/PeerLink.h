// Both halves of the peer handshake over TCP and UDP, driven by socket
// notifications that arrive as window messages.
//
// A server listens on a TCP port, gives each of up to eight clients a slot
// number in a Greeting and learns each client's UDP address from the
// Registration the client sends back. A client connects, reads its number
// from the Greeting and registers its UDP address with the server. After
// that the server can send datagrams to every registered client.
//
// Wire formats (16-bit little-endian fields):
//   Greeting      TCP, server -> client: FF FF, id
//   Registration  UDP, client -> server: FE FF, id
//
// Whom each side believes:
//   - a server takes a Registration for a slot only from the machine address
//     of that slot's TCP connection, and closes a connection that has not
//     registered within RegistrationTimeoutMs, so that idle connections
//     cannot hold the eight slots;
//   - a server ignores whatever its clients send over TCP;
//   - a client reads Greetings only from its own connection to the server.
//
// A client keeps its peer: when the connection closes or cannot be made it
// tries again after a pause that doubles from 1 s up to 30 s, and registers
// again when the server greets it again.
//
// Everything runs on the window's thread: HandleMessage for the socket
// events, and Update, which the owner calls every loop pass (or at least a
// few times a second) for the timers.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "net/GreetingReader.h"
#include "platform/system/Clock.h"
#include "platform/sockets/Sockets.h"
#include "platform/system/win32types.h"

enum class LinkMode : int { Server = 0, Client = 1 };

// Where a client stands with its peer.
enum class LinkState {
    None,        // not opened, or opened as a server
    Connecting,  // not yet greeted by the peer (trying, or waiting to try again)
    Connected,   // greeted and registered
    Lost,        // was connected; trying again
};
const char* LinkStateName(LinkState state);  // "none", "connecting", "connected", "lost"

// One slot of the peer table.
struct PeerEntry {
    platform::SOCKET socket = 0;        // TCP connection of this peer, 0 = slot free
    platform::SocketAddress address{};  // where datagrams for this peer go (family 0: not known yet)
    std::int32_t id = 0;                // the slot's own index
    // Server only: the far end of the TCP connection, and when it was taken.
    platform::SocketAddress connectedFrom{};
    DWORD acceptedAt = 0;
};

class PeerLink;

// What the two channels share: the socket and the set-up bookkeeping.
class Channel {
public:
    ~Channel();
    void Close();

    PeerLink* owner = nullptr;
    HWND window = nullptr;
    LinkMode mode = LinkMode::Client;
    platform::SOCKET socket = 0;
    int error = 0;  // Winsock error of the last failed set-up, 0 if none

protected:
    // One set-up step on the new socket; false when it failed (the error is
    // then read from the sockets layer).
    using Step = std::function<bool(platform::SOCKET)>;
    // Creates a socket of the type and family into `into`, then runs the
    // steps in order. The first failing step records the error and closes
    // the socket (and zeroes `into`).
    bool SetUp(PeerLink& link, HWND notifyWindow, LinkMode linkMode, platform::SocketType type, std::uint16_t family,
               platform::SOCKET& into, std::initializer_list<Step> steps);
};

// The TCP side: a server's listening socket. A client's connection lives in
// peer slot 0 instead, so a client's channel socket stays 0.
class TcpChannel : public Channel {
public:
    bool Listen(PeerLink& link, HWND window, const platform::SocketAddress& local);
    bool Connect(PeerLink& link, HWND window, const platform::SocketAddress& server);
};

// The UDP side, in both modes.
class UdpChannel : public Channel {
public:
    bool Bind(PeerLink& link, HWND window, const platform::SocketAddress& local);
    // Slot 0 gets the server's address; the socket is left unbound.
    bool Target(PeerLink& link, HWND window, const platform::SocketAddress& server);
};

class PeerLink {
public:
    static constexpr int PeerCount = 8;
    static constexpr int TcpBufferSize = 256;
    static constexpr int TcpReadSize = 8;
    static constexpr int UdpBufferSize = 49152;  // one image datagram
    static constexpr std::int16_t GreetingMarker = -1;
    static constexpr std::int16_t RegistrationMarker = -2;
    // The most datagrams one read notification takes off the UDP socket.
    static constexpr int DatagramsPerEvent = 64;
    static constexpr DWORD RegistrationTimeoutMs = 10000;
    static constexpr DWORD FirstRetryMs = 1000;
    static constexpr DWORD LongestRetryMs = 30000;

    // The sockets layer must outlive the link.
    explicit PeerLink(platform::Sockets& sockets);
    virtual ~PeerLink();
    PeerLink(const PeerLink&) = delete;
    PeerLink& operator=(const PeerLink&) = delete;

    // Starts the link. Fails only when the sockets layer cannot be started;
    // a peer that cannot be resolved, reached or bound leaves the link
    // silent (see the channels' error) and a client tries again (Update).
    virtual bool Open(HWND window, LinkMode mode, const char* host, int port);
    virtual bool OnAccept(HWND window, platform::SOCKET socket, LPARAM lParam);
    virtual bool OnConnect(HWND window, platform::SOCKET socket, LPARAM lParam);
    virtual bool OnClose(HWND window, platform::SOCKET socket, LPARAM lParam);
    virtual bool OnTcpRead(HWND window, platform::SOCKET socket, LPARAM lParam);
    virtual bool OnUdpRead(HWND window, platform::SOCKET socket, LPARAM lParam);

    // Hands WM_NET_TCP and WM_NET_UDP events to the handlers; true when the
    // message was a socket event of this link that it handled.
    bool HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // The timers: a client's next try, a server's unregistered connections.
    // Does nothing until Open.
    virtual void Update();
    // One datagram to every peer slot that is connected and has an address.
    void SendToPeers(const void* bytes, int length);
    // Shuts down and closes every peer connection, then stops the sockets layer.
    void CloseAll();

    // A server listens on every interface (IPv6 and IPv4) unless told one
    // IPv4 address (network byte order) before Open; the built-in demo peer
    // keeps to loopback.
    void SetListenAddress(std::uint32_t networkAddress) { listenAddress = networkAddress; }
    // The clock of the timers (a wall clock unless told); it must outlive the link.
    void UseClock(platform::Clock& clock) { clock_ = &clock; }

    std::int32_t OwnId() const { return ownId; }
    const PeerEntry& Peer(int index) const { return peers[index]; }
    const TcpChannel& Tcp() const { return tcp; }
    const UdpChannel& Udp() const { return udp; }
    platform::Sockets& SocketLayer() const { return sockets; }
    LinkState State() const { return state; }
    // Registrations refused since Open (wrong slot, or not from the slot's machine).
    std::uint64_t RefusedRegistrations() const { return refusedRegistrations; }

protected:
    // The slot that holds this TCP socket, or -1.
    int SlotOf(platform::SOCKET socket) const;
    // Closes a slot's connection and frees the slot for a waiting one.
    void Disconnect(int slot);
    // A packet from the peer arrived now.
    void NoteContact();
    DWORD Now() { return clock_->Milliseconds(); }

    platform::Sockets& sockets;
    HWND window = nullptr;
    std::int32_t ownId = -1;
    TcpChannel tcp;
    UdpChannel udp;
    std::uint8_t tcpBuffer[TcpBufferSize] = {};
    std::uint8_t udpBuffer[UdpBufferSize] = {};
    PeerEntry peers[PeerCount];
    LinkState state = LinkState::None;
    bool contacted = false;  // a packet from the peer has arrived
    DWORD lastContact = 0;   // when the latest one did

private:
    friend class Channel;
    friend class TcpChannel;
    friend class UdpChannel;

    // Client: resolves the peer again and starts a connection attempt.
    void StartConnection();
    // Client: gives up the current attempt and sets the next one.
    void RetryLater(const char* why, int error);
    void ExpireSilentConnections(DWORD now);

    platform::SystemClock ownClock_;
    platform::Clock* clock_ = &ownClock_;
    std::uint32_t listenAddress = 0;
    bool started = false;
    bool acceptDeferred = false;  // a connection waited while every slot was taken
    LinkMode linkMode = LinkMode::Client;
    GreetingReader greetings;
    std::uint64_t refusedRegistrations = 0;

    // Client: the peer as configured, and the retry timer.
    std::string peerHost;
    int peerPort = 0;
    std::size_t nextCandidate = 0;  // which of the resolved addresses to try next
    bool retryPending = false;
    DWORD retryAt = 0;
    DWORD retryPause = FirstRetryMs;
    bool troubleReported = false;  // the current outage was logged
};

// Little-endian 16-bit fields of the handshake packets.
void WriteWord(std::uint8_t* bytes, std::int16_t value);
std::int16_t ReadWord(const std::uint8_t* bytes);

// The slot a Registration datagram may fill, or -1: the marker FE FF, an id
// inside the table, a slot with a TCP connection, and a sender on the same
// machine address as that connection.
int RegistrationSlot(const std::uint8_t* bytes, int length, const platform::SocketAddress& from,
                     const PeerEntry (&peers)[PeerLink::PeerCount]);
