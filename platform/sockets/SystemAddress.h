// The system's side of the sockets part, shared by its two files: socket
// addresses in the system's form and errno in Winsock's numbers. For
// platform/sockets alone: it includes the system's socket headers.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include "platform/sockets/Sockets.h"

namespace platform {

// The Winsock number of an errno value (WSAEOTHER for one without a name).
int ToWinsockError(int systemError);
// The system's form of an address, for a socket of the given family: an
// IPv4 address given to an IPv6 socket becomes ::ffff:a.b.c.d.
socklen_t ToSystem(const SocketAddress& address, std::uint16_t socketFamily, sockaddr_storage& system);
// The address in this layer's form; ::ffff:a.b.c.d becomes the IPv4 address.
SocketAddress FromSystem(const sockaddr_storage& system);

}  // namespace platform
