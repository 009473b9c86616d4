// The peer program's server: the server half of the peer link, telling the
// operator who connects, registers and leaves, and sending one picture at a
// time to every registered installation. What was sent is told in a summary
// that the program asks for now and then, not picture by picture.
//
// One machine address holds at most a given number of the eight places (its
// newest connections beyond that are closed at once), so that one host
// opening connections cannot keep every real installation out.
#pragma once

#include <cstdint>
#include <string>

#include "net/PeerServer.h"

class PictureServer : public PeerServer {
public:
    PictureServer(platform::Sockets& socketLayer, int placesPerAddress)
        : PeerServer(socketLayer), placesPerAddress_(placesPerAddress)
    {
    }

    // Starts listening on TCP and UDP; false with a message for the operator
    // when either port cannot be had.
    bool Start(HWND window, int port, std::string& error);
    int Port() const { return port_; }

    int RegisteredCount() const;
    // One picture datagram to every registered installation; returns how
    // many it went to.
    int SendPicture(const void* bytes, int length);
    // "installation 0: 60 pictures, installation 3: 58 pictures" for what was
    // sent since the previous summary (and the registrations refused), then
    // starts counting again; "no pictures sent" when nothing was.
    std::string TakeSummary();

    bool OnAccept(HWND window, platform::SOCKET socket, LPARAM lParam) override;
    bool OnClose(HWND window, platform::SOCKET socket, LPARAM lParam) override;
    bool OnUdpRead(HWND window, platform::SOCKET socket, LPARAM lParam) override;
    void Update() override;

private:
    bool IsRegistered(int slot) const;
    void ReportChanges(const PeerEntry (&before)[PeerCount], const char* leaving = "left");
    // Closes the newest connections of any address that holds more places
    // than it may; true when it closed one.
    bool LimitPlacesPerAddress();

    int port_ = 0;
    std::uint64_t sentTo_[PeerCount] = {};
    std::uint64_t refusedBefore_ = 0;
    int placesPerAddress_;
    std::uint64_t placesRefused_ = 0;  // since the previous summary
    bool placeRefusalLogged_ = false;
};

// A sentence for a port that cannot be served on.
std::string DescribeBindFailure(const char* what, int port, int error);
