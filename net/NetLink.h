// The installation's network link: a client of the peer that receives
// 128x128 RGB pictures as UDP datagrams of exactly 49152 bytes (128 rows of
// 128 pixels, top row first, red, green, blue) and keeps the latest one for
// the scene.
//
// Pictures are taken only from the machine address of the peer the link
// connects to, unless any source is allowed (a peer behind NAT, or one with
// several addresses).
//
// Until the first picture after a greeting arrives, the registration is sent
// again every RegistrationResendMs: a lost datagram, or junk that crowded it
// out of the peer's queue, must not leave the installation without pictures
// for as long as the connection lasts. A greeted link that still has no
// picture after NoPictureWarningMs says so once (the log, and the status).
//
// The scene reads HasFrame(); once it is true, FrameBuffer() holds the
// latest complete picture. Neither is ever reset: a picture stays until the
// next one replaces it.
//
// Threads: everything runs on the loop thread. As an event source, Poll
// runs the link's timers (its retries); the message loop calls it every pass.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "net/PeerLink.h"
#include "platform/system/messages.h"

// What an operator is told about the link.
struct LinkStatus {
    LinkState state = LinkState::None;
    std::string peer;                 // "host:port" as configured, empty without a peer
    double lastContactSeconds = -1;   // since the latest Greeting or picture; -1: none yet
    std::uint64_t picturesReceived = 0;
    // Connected for NoPictureWarningMs and no picture since the greeting.
    bool noPictures = false;
};

// True when a datagram of this length from this sender is a picture to take.
bool AcceptsPicture(int length, const platform::SocketAddress& from, const platform::SocketAddress& peer,
                    bool anySource);

class NetLink : public PeerLink, public platform::EventSource {
public:
    static constexpr int FrameSize = 49152;
    static constexpr int FrameWidth = 128;
    static constexpr int FrameHeight = 128;
    static constexpr DWORD RegistrationResendMs = 2000;
    static constexpr DWORD NoPictureWarningMs = 10000;

    explicit NetLink(platform::Sockets& sockets);
    ~NetLink() override;

    bool Open(HWND window, const char* host, int port) override;
    bool OnUdpRead(HWND window, platform::SOCKET socket, LPARAM lParam) override;
    bool OnTcpRead(HWND window, platform::SOCKET socket, LPARAM lParam) override;
    void Update() override;

    // Pictures from any sender, not only the peer's address (set before or
    // after Open).
    void AllowAnySource(bool allow) { anySource = allow; }

    void Poll() override { Update(); }

    bool HasFrame() const { return hasFrame; }
    // Null until Open; FrameSize bytes afterwards.
    const std::uint8_t* FrameBuffer() const { return frameBuffer.get(); }
    LinkStatus Status();

private:
    void TakeDatagram(int length, const platform::SocketAddress& from);

    std::unique_ptr<std::uint8_t[]> frameBuffer;
    bool hasFrame = false;
    bool anySource = false;
    bool refusalReported = false;
    std::uint64_t picturesReceived = 0;
    std::string peerName;
    // Since the latest greeting: when it came, whether a picture followed,
    // when the registration goes out again, and whether the wait was logged.
    DWORD greetedAt = 0;
    bool pictureSinceGreeting = true;
    DWORD resendAt = 0;
    bool silenceReported = false;
};
