// The peer built into the installation for --demo: the server half of the
// link on a free loopback port, sending generated pictures, so the whole
// installation can be seen without a second machine.
//
// It has no window of its own: a window record with its own queue receives
// its socket notifications, and Poll (called by the message loop like any
// event source, after the sockets layer) hands them to the server and sends
// the next picture when the interval has passed on the given clock.
#pragma once

#include <cstdint>
#include <vector>

#include "common/NonCopyable.h"
#include "net/PeerServer.h"
#include "net/PicturePattern.h"
#include "platform/system/Clock.h"
#include "platform/sockets/Sockets.h"
#include "platform/system/messages.h"

class DemoPeer : public platform::EventSource, NonCopyable {
public:
    // The sockets layer and the clock must outlive the peer.
    DemoPeer(platform::Sockets& sockets, platform::Clock& clock, DWORD intervalMs = 500);
    ~DemoPeer() override = default;

    // Listens on 127.0.0.1 at a port the system picks; false if it cannot.
    bool Start();
    // The port an installation connects to (0 before Start).
    int Port() const { return port_; }
    int PicturesSent() const { return sent_; }
    const PeerServer& Server() const { return server_; }

    void Poll() override;

private:
    platform::MessageQueue queue_;
    HWND__ window_;
    PeerServer server_;
    platform::Clock& clock_;
    DWORD interval_;
    DWORD lastSend_ = 0;
    int port_ = 0;
    int sent_ = 0;
    PicturePattern pattern_;
    std::vector<std::uint8_t> picture_;
};
