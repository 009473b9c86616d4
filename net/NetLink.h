// The installation's network link: a client of the peer that receives
// 128x128 RGB pictures as UDP datagrams of exactly 49152 bytes (128 rows of
// 128 pixels, top row first, red, green, blue) and keeps the latest one for
// the scene.
//
// The scene reads HasFrame(); once it is true, FrameBuffer() holds the
// latest complete picture. Neither is ever reset: a picture stays until the
// next one replaces it.
#pragma once

#include <cstdint>
#include <memory>

#include "net/PeerLink.h"

class NetLink : public PeerLink {
public:
    static constexpr int FrameSize = 49152;
    static constexpr int FrameWidth = 128;
    static constexpr int FrameHeight = 128;

    explicit NetLink(platform::Sockets& sockets);
    ~NetLink() override;

    bool Open(HWND window, LinkMode mode, const char* host, int port) override;
    bool OnUdpRead(HWND window, platform::SOCKET socket, LPARAM lParam) override;

    bool HasFrame() const { return hasFrame; }
    // Null until Open; FrameSize bytes afterwards.
    const std::uint8_t* FrameBuffer() const { return frameBuffer.get(); }

private:
    std::unique_ptr<std::uint8_t[]> frameBuffer;
    bool hasFrame = false;
};
