// The server half of the peer handshake: the peer's side (the built-in demo
// peer, the peer program). It listens on a TCP port, gives each of up to
// eight clients a slot number in a Greeting and learns each client's UDP
// address from the Registration the client sends back (net/PeerChannel.h
// has the wire formats). After that it can send datagrams to every
// registered client.
//
// Whom it believes:
//   - it takes a Registration for a slot only from the machine address of
//     that slot's TCP connection, and closes a connection that has not
//     registered within RegistrationTimeoutMs, so that idle connections
//     cannot hold the eight slots;
//   - it ignores whatever its clients send over TCP.
#pragma once

#include <cstdint>

#include "net/PeerChannel.h"

class PeerServer : public PeerChannel {
public:
    static constexpr DWORD RegistrationTimeoutMs = 10000;

    // The sockets layer must outlive the server.
    explicit PeerServer(platform::Sockets& sockets);

    // Listens on the port (0: one the system picks, shared by TCP and UDP).
    // Fails only when the sockets layer cannot be started; a port that
    // cannot be bound leaves the channels' error set.
    bool Open(HWND window, int port);
    bool OnAccept(HWND window, platform::SOCKET socket, LPARAM lParam) override;
    bool OnClose(HWND window, platform::SOCKET socket, LPARAM lParam) override;
    bool OnTcpRead(HWND window, platform::SOCKET socket, LPARAM lParam) override;
    bool OnUdpRead(HWND window, platform::SOCKET socket, LPARAM lParam) override;
    // Closes the connections that have not registered in time.
    void Update() override;

    // Listens on every interface (IPv6 and IPv4) unless told one IPv4
    // address (network byte order) before Open; the built-in demo peer
    // keeps to loopback.
    void SetListenAddress(std::uint32_t networkAddress) { listenAddress = networkAddress; }
    // Registrations refused since Open (wrong slot, or not from the slot's machine).
    std::uint64_t RefusedRegistrations() const { return refusedRegistrations; }

protected:
    // Closes a slot's connection and frees the slot for a waiting one.
    void Disconnect(int slot);

private:
    void ExpireSilentConnections(DWORD now);

    std::uint32_t listenAddress = 0;
    bool acceptDeferred = false;  // a connection waited while every slot was taken
    std::uint64_t refusedRegistrations = 0;
};

// The slot a Registration datagram may fill, or -1: the marker FE FF, an id
// inside the table, a slot with a TCP connection, and a sender on the same
// machine address as that connection.
int RegistrationSlot(const std::uint8_t* bytes, int length, const platform::SocketAddress& from,
                     const PeerEntry (&peers)[PeerChannel::PeerCount]);
