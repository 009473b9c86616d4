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
// Everything runs on the window's thread, inside HandleMessage.
#pragma once

#include <cstdint>

#include "platform/Sockets.h"
#include "platform/win32types.h"

enum class LinkMode : int { Server = 0, Client = 1 };

// One slot of the peer table.
struct PeerEntry {
    platform::SOCKET socket = 0;        // TCP connection of this peer, 0 = slot free
    platform::SocketAddress address{};  // where datagrams for this peer go (family 0: not known yet)
    std::int32_t id = 0;                // the slot's own index
};

class PeerLink;

// The TCP side: a server's listening socket. A client's connection lives in
// peer slot 0 instead, so a client's channel socket stays 0.
class TcpChannel {
public:
    ~TcpChannel();
    bool Listen(PeerLink& link, HWND window, int port);
    bool Connect(PeerLink& link, HWND window, const char* host, int port);
    void Close();

    PeerLink* owner = nullptr;
    HWND window = nullptr;
    LinkMode mode = LinkMode::Client;
    platform::SOCKET socket = 0;
    int error = 0;  // Winsock error of the last failed set-up, 0 if none
};

// The UDP side, in both modes.
class UdpChannel {
public:
    ~UdpChannel();
    bool Bind(PeerLink& link, HWND window, int port);
    bool Target(PeerLink& link, HWND window, const char* host, int port);
    void Close();

    PeerLink* owner = nullptr;
    HWND window = nullptr;
    LinkMode mode = LinkMode::Client;
    platform::SOCKET socket = 0;
    int error = 0;
};

class PeerLink {
public:
    static constexpr int PeerCount = 8;
    static constexpr int TcpBufferSize = 256;
    static constexpr int TcpReadSize = 8;
    static constexpr int UdpBufferSize = 49152;  // one image datagram
    static constexpr std::int16_t GreetingMarker = -1;
    static constexpr std::int16_t RegistrationMarker = -2;

    // The sockets layer must outlive the link.
    explicit PeerLink(platform::Sockets& sockets);
    virtual ~PeerLink();
    PeerLink(const PeerLink&) = delete;
    PeerLink& operator=(const PeerLink&) = delete;

    // Starts the link. Fails only when the sockets layer cannot be started;
    // a peer that cannot be resolved, reached or bound leaves the link
    // silent (see TcpSocket/UdpSocket and the channels' error).
    virtual bool Open(HWND window, LinkMode mode, const char* host, int port);
    virtual bool OnAccept(HWND window, platform::SOCKET socket, LPARAM lParam);
    virtual bool OnConnect(HWND window, platform::SOCKET socket, LPARAM lParam);
    virtual bool OnClose(HWND window, platform::SOCKET socket, LPARAM lParam);
    virtual bool OnTcpRead(HWND window, platform::SOCKET socket, LPARAM lParam);
    virtual bool OnUdpRead(HWND window, platform::SOCKET socket, LPARAM lParam);

    // Hands WM_NET_TCP and WM_NET_UDP events to the handlers; true when the
    // message was a socket event of this link that it handled.
    bool HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // One datagram to every peer slot that is connected and has an address.
    void SendToPeers(const void* bytes, int length);
    // Shuts down and closes every peer connection, then stops the sockets layer.
    void CloseAll();

    // A server listens on every interface unless told one address (network
    // byte order) before Open; the built-in demo peer keeps to loopback.
    void SetListenAddress(std::uint32_t networkAddress) { listenAddress = networkAddress; }

    std::int32_t OwnId() const { return ownId; }
    const PeerEntry& Peer(int index) const { return peers[index]; }
    const TcpChannel& Tcp() const { return tcp; }
    const UdpChannel& Udp() const { return udp; }
    platform::Sockets& SocketLayer() const { return sockets; }

protected:
    // The slot that holds this TCP socket, or -1.
    int SlotOf(platform::SOCKET socket) const;

    platform::Sockets& sockets;
    HWND window = nullptr;
    std::int32_t ownId = -1;
    TcpChannel tcp;
    UdpChannel udp;
    std::uint8_t tcpBuffer[TcpBufferSize] = {};
    std::uint8_t udpBuffer[UdpBufferSize] = {};
    PeerEntry peers[PeerCount];

private:
    friend class TcpChannel;
    friend class UdpChannel;

    std::uint32_t listenAddress = 0;
    bool started = false;
    bool acceptDeferred = false;  // a connection waited while every slot was taken
};

// Little-endian 16-bit fields of the handshake packets.
void WriteWord(std::uint8_t* bytes, std::int16_t value);
std::int16_t ReadWord(const std::uint8_t* bytes);
