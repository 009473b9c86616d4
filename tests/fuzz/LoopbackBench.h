// What the datagram targets share: the sockets layer and a message queue
// their handler posts to, and two UDP senders on loopback, one from
// 127.0.0.1 (the address the handler knows) and one from 127.0.0.2 (a
// stranger on the LAN). Each target adds the handler it feeds.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "platform/sockets/Sockets.h"
#include "platform/system/messages.h"

inline platform::SocketAddress Loopback(std::uint32_t host, int port)
{
    platform::SocketAddress address;
    address.family = platform::ADDRESS_FAMILY_INET;
    address.address = platform::HostToNetwork32(host);
    address.port = platform::HostToNetwork16(static_cast<std::uint16_t>(port));
    return address;
}

struct LoopbackBench {
    platform::Sockets sockets;
    platform::MessageQueue queue;
    HWND__ window;
    platform::SOCKET senders[2] = {};  // UDP from 127.0.0.1 and from 127.0.0.2

    LoopbackBench() { window.queue = &queue; }

    void OpenSenders()
    {
        for (int i = 0; i < 2; ++i) {
            senders[i] = sockets.socket(platform::SocketType::Datagram);
            if (sockets.bind(senders[i], Loopback(0x7F000001u + static_cast<std::uint32_t>(i), 0)) != 0) std::abort();
        }
    }
};
