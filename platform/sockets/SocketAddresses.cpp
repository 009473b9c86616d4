// Socket addresses and names: byte order, the system's form of an address,
// the text of an address and of an error, and name resolution.
#include <arpa/inet.h>
#include <netdb.h>

#include <cerrno>
#include <cstring>

#include "platform/sockets/SystemAddress.h"

namespace platform {

namespace {

// Host names are letters, digits, dots, hyphens (and underscores, which
// some local networks use); IPv6 addresses add colons and a "%interface"
// scope. Anything else is not looked up at all.
bool PlausibleHostName(const std::string& host)
{
    if (host.empty() || host.size() > 253) return false;
    for (char c : host) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                  c == '-' || c == '_' || c == ':' || c == '%';
        if (!ok) return false;
    }
    return true;
}

}  // namespace

int ToWinsockError(int systemError)
{
    switch (systemError) {
    case 0: return 0;
    case EINTR: return WSAEINTR;
    case EBADF: return WSAEBADF;
    case EACCES:
    case EPERM: return WSAEACCES;
    case EFAULT: return WSAEFAULT;
    case EINVAL: return WSAEINVAL;
    case EMFILE:
    case ENFILE: return WSAEMFILE;
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case EINPROGRESS: return WSAEWOULDBLOCK;
    case EALREADY: return WSAEALREADY;
    case ENOTSOCK: return WSAENOTSOCK;
    case EMSGSIZE: return WSAEMSGSIZE;
    case EAFNOSUPPORT: return WSAEAFNOSUPPORT;
    case EADDRINUSE: return WSAEADDRINUSE;
    case EADDRNOTAVAIL: return WSAEADDRNOTAVAIL;
    case ENETDOWN: return WSAENETDOWN;
    case ENETUNREACH: return WSAENETUNREACH;
    case ECONNABORTED: return WSAECONNABORTED;
    case ECONNRESET:
    case EPIPE: return WSAECONNRESET;
    case ENOBUFS:
    case ENOMEM: return WSAENOBUFS;
    case EISCONN: return WSAEISCONN;
    case ENOTCONN: return WSAENOTCONN;
    case ETIMEDOUT: return WSAETIMEDOUT;
    case ECONNREFUSED: return WSAECONNREFUSED;
    case EHOSTUNREACH: return WSAEHOSTUNREACH;
    default: return WSAEOTHER;
    }
}

socklen_t ToSystem(const SocketAddress& address, std::uint16_t socketFamily, sockaddr_storage& system)
{
    std::memset(&system, 0, sizeof system);
    if (address.family == ADDRESS_FAMILY_INET6 ||
        (address.family == ADDRESS_FAMILY_INET && socketFamily == ADDRESS_FAMILY_INET6)) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&system);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = address.port;
        if (address.family == ADDRESS_FAMILY_INET6) {
            std::memcpy(in6->sin6_addr.s6_addr, address.address6, 16);
            in6->sin6_scope_id = address.scope;
        } else {
            in6->sin6_addr.s6_addr[10] = 0xFF;
            in6->sin6_addr.s6_addr[11] = 0xFF;
            std::memcpy(in6->sin6_addr.s6_addr + 12, &address.address, 4);
        }
        return sizeof(sockaddr_in6);
    }
    auto* in = reinterpret_cast<sockaddr_in*>(&system);
    // An unknown family is passed on as it is, for the system to refuse.
    in->sin_family = address.family == ADDRESS_FAMILY_INET ? AF_INET : static_cast<sa_family_t>(address.family);
    in->sin_port = address.port;
    in->sin_addr.s_addr = address.address;
    return sizeof(sockaddr_in);
}

namespace {

bool IsMappedIPv4(const in6_addr& address)
{
    static const std::uint8_t prefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    return std::memcmp(address.s6_addr, prefix, sizeof prefix) == 0;
}

}  // namespace

SocketAddress FromSystem(const sockaddr_storage& system)
{
    SocketAddress result;
    if (system.ss_family == AF_INET) {
        const auto& in = reinterpret_cast<const sockaddr_in&>(system);
        result.family = ADDRESS_FAMILY_INET;
        result.port = in.sin_port;
        result.address = in.sin_addr.s_addr;
    } else if (system.ss_family == AF_INET6) {
        const auto& in6 = reinterpret_cast<const sockaddr_in6&>(system);
        result.port = in6.sin6_port;
        if (IsMappedIPv4(in6.sin6_addr)) {
            result.family = ADDRESS_FAMILY_INET;
            std::memcpy(&result.address, in6.sin6_addr.s6_addr + 12, 4);
        } else {
            result.family = ADDRESS_FAMILY_INET6;
            std::memcpy(result.address6, in6.sin6_addr.s6_addr, 16);
            result.scope = in6.sin6_scope_id;
        }
    } else {
        result.family = static_cast<std::uint16_t>(system.ss_family);
    }
    return result;
}

std::uint16_t HostToNetwork16(std::uint16_t value) { return htons(value); }
std::uint32_t HostToNetwork32(std::uint32_t value) { return htonl(value); }
std::uint16_t NetworkToHost16(std::uint16_t value) { return ntohs(value); }

bool SameHost(const SocketAddress& a, const SocketAddress& b)
{
    if (a.family != b.family) return false;
    if (a.family == ADDRESS_FAMILY_INET) return a.address == b.address;
    if (a.family == ADDRESS_FAMILY_INET6) return std::memcmp(a.address6, b.address6, 16) == 0;
    return false;
}

std::string FormatAddress(const SocketAddress& address)
{
    std::string port = std::to_string(ntohs(address.port));
    if (address.family == ADDRESS_FAMILY_INET6) {
        in6_addr in6{};
        std::memcpy(in6.s6_addr, address.address6, 16);
        char text[INET6_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET6, &in6, text, sizeof text);
        return "[" + std::string(text) + "]:" + port;
    }
    in_addr in{};
    in.s_addr = address.address;
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &in, text, sizeof text);
    return std::string(text) + ":" + port;
}

const char* SocketErrorText(int error)
{
    switch (error) {
    case 0: return "no error";
    case WSAEACCES: return "permission denied";
    case WSAEADDRINUSE: return "address already in use";
    case WSAEADDRNOTAVAIL: return "address not available on this machine";
    case WSAECONNREFUSED: return "connection refused";
    case WSAECONNRESET: return "connection reset by the peer";
    case WSAECONNABORTED: return "connection aborted";
    case WSAETIMEDOUT: return "timed out";
    case WSAENETUNREACH: return "network unreachable";
    case WSAEHOSTUNREACH: return "host unreachable";
    case WSAEMFILE: return "too many open files";
    case WSAENOBUFS: return "out of buffer space";
    case WSAEMSGSIZE: return "datagram too long";
    case WSAEWOULDBLOCK: return "operation would block";
    case WSAENOTSOCK: return "not a socket";
    case WSAEINVAL: return "invalid argument";
    case WSAHOST_NOT_FOUND: return "host not found";
    default: return "socket error";
    }
}

bool Sockets::Resolve(const char* host, std::vector<SocketAddress>& addresses)
{
    addresses.clear();
    std::string name = host != nullptr ? host : "";
    if (name.size() >= 2 && name.front() == '[' && name.back() == ']') name = name.substr(1, name.size() - 2);
    if (!PlausibleHostName(name)) {
        lastError_ = WSAHOST_NOT_FOUND;
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
        lastError_ = WSAHOST_NOT_FOUND;
        return false;
    }
    for (addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_addr == nullptr || entry->ai_addrlen > sizeof(sockaddr_storage)) continue;
        if (entry->ai_family != AF_INET && entry->ai_family != AF_INET6) continue;
        sockaddr_storage system{};
        std::memcpy(&system, entry->ai_addr, entry->ai_addrlen);
        SocketAddress address = FromSystem(system);
        address.port = 0;
        bool seen = false;
        for (const SocketAddress& other : addresses) seen = seen || (SameHost(other, address) && other.scope == address.scope);
        if (!seen) addresses.push_back(address);
    }
    ::freeaddrinfo(found);
    if (addresses.empty()) lastError_ = WSAHOST_NOT_FOUND;
    return !addresses.empty();
}

bool Sockets::ResolveIPv4(const char* host, std::uint32_t& address)
{
    std::vector<SocketAddress> addresses;
    if (!Resolve(host, addresses)) return false;
    for (const SocketAddress& candidate : addresses) {
        if (candidate.family == ADDRESS_FAMILY_INET) {
            address = candidate.address;
            return true;
        }
    }
    lastError_ = WSAHOST_NOT_FOUND;
    return false;
}

}  // namespace platform
