// The client half of the peer handshake: the installation's side. It
// connects to the server over TCP, reads its number from the Greeting and
// registers its UDP address with the server (net/PeerChannel.h has the wire
// formats).
//
// Whom it believes: it reads Greetings only from its own connection to the
// server.
//
// It keeps its peer: when the connection closes or cannot be made it tries
// again after a pause that doubles from 1 s up to 30 s, and registers again
// when the server greets it again.
#pragma once

#include <cstdint>
#include <string>

#include "net/GreetingReader.h"
#include "net/PeerChannel.h"

// Where a client stands with its peer.
enum class LinkState {
    None,        // not opened
    Connecting,  // not yet greeted by the peer (trying, or waiting to try again)
    Connected,   // greeted and registered
    Lost,        // was connected; trying again
};
const char* LinkStateName(LinkState state);  // "none", "connecting", "connected", "lost"

class PeerLink : public PeerChannel {
public:
    static constexpr DWORD FirstRetryMs = 1000;
    static constexpr DWORD LongestRetryMs = 30000;

    // The sockets layer must outlive the link.
    explicit PeerLink(platform::Sockets& sockets);
    ~PeerLink() override;

    // Starts the link to the peer at host:port. Fails only when the sockets
    // layer cannot be started; a peer that cannot be resolved or reached
    // leaves the link silent (see the channels' error) and it tries again
    // (Update).
    virtual bool Open(HWND window, const char* host, int port);
    bool OnConnect(HWND window, platform::SOCKET socket, LPARAM lParam) override;
    bool OnClose(HWND window, platform::SOCKET socket, LPARAM lParam) override;
    bool OnTcpRead(HWND window, platform::SOCKET socket, LPARAM lParam) override;
    // The next try when its time has come.
    void Update() override;
    // Closes the connection and stops trying.
    void CloseAll();

    std::int32_t OwnId() const { return ownId; }
    LinkState State() const { return state; }

protected:
    // A packet from the peer arrived now.
    void NoteContact();

    std::int32_t ownId = -1;
    LinkState state = LinkState::None;
    bool contacted = false;  // a packet from the peer has arrived
    DWORD lastContact = 0;   // when the latest one did

private:
    // Resolves the peer again and starts a connection attempt.
    void StartConnection();
    // Gives up the current attempt and sets the next one.
    void RetryLater(const char* why, int error);

    GreetingReader greetings;
    // The peer as configured, and the retry timer.
    std::string peerHost;
    int peerPort = 0;
    std::size_t nextCandidate = 0;  // which of the resolved addresses to try next
    bool retryPending = false;
    DWORD retryAt = 0;
    DWORD retryPause = FirstRetryMs;
    bool troubleReported = false;  // the current outage was logged
};
