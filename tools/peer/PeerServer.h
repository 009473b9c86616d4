// The peer program's server: the peer link in server mode, telling the
// operator who connects, registers and leaves, and sending one picture at a
// time to every registered installation.
#pragma once

#include <string>

#include "net/PeerLink.h"

class PeerServer : public PeerLink {
public:
    explicit PeerServer(platform::Sockets& socketLayer) : PeerLink(socketLayer) {}

    // Starts listening on TCP and UDP; false with a message for the operator
    // when either port cannot be had.
    bool Start(HWND window, int port, std::string& error);
    int Port() const { return port_; }

    int RegisteredCount() const;
    // One picture datagram to every registered installation; returns how
    // many it went to.
    int SendPicture(const void* bytes, int length);

    bool OnAccept(HWND window, platform::SOCKET socket, LPARAM lParam) override;
    bool OnClose(HWND window, platform::SOCKET socket, LPARAM lParam) override;
    bool OnUdpRead(HWND window, platform::SOCKET socket, LPARAM lParam) override;

private:
    bool IsRegistered(int slot) const;
    void ReportChanges(const PeerEntry (&before)[PeerCount]);

    int port_ = 0;
};

// A sentence for a port that cannot be served on.
std::string DescribeBindFailure(const char* what, int port, int error);
