// POSIX implementation of the Winsock stand-in: non-blocking sockets, errno
// translated to Winsock's numbers, and readiness turned into the window
// messages that WSAAsyncSelect would post.
#include "platform/sockets/Sockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {

namespace {

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

// The system's form of an address, for a socket of the given family: an
// IPv4 address given to an IPv6 socket becomes ::ffff:a.b.c.d.
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

bool IsMappedIPv4(const in6_addr& address)
{
    static const std::uint8_t prefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    return std::memcmp(address.s6_addr, prefix, sizeof prefix) == 0;
}

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

// Handle 0 means "no socket" to the callers; a socket that landed on
// descriptor 0 (stdin was closed) moves up.
int AwayFromZero(int fd)
{
    if (fd != 0) return fd;
    int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 1);
    ::close(fd);
    return moved;
}

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

Sockets::~Sockets()
{
    for (auto& entry : records_) ::close(static_cast<int>(entry.first));
}

int Sockets::WSAStartup(WORD, WORD& highVersion)
{
    highVersion = 0x0202;
    ++startups_;
    return 0;
}

int Sockets::WSACleanup()
{
    if (startups_ == 0) {
        lastError_ = WSANOTINITIALISED;
        return SOCKET_ERROR;
    }
    --startups_;
    return 0;
}

Sockets::Record* Sockets::Find(SOCKET s)
{
    auto found = records_.find(s);
    if (found == records_.end()) {
        lastError_ = WSAENOTSOCK;
        return nullptr;
    }
    return &found->second;
}

bool Sockets::Fail(int systemError)
{
    lastError_ = ToWinsockError(systemError);
    return false;
}

SOCKET Sockets::socket(SocketType type, std::uint16_t family)
{
    if (family != ADDRESS_FAMILY_INET && family != ADDRESS_FAMILY_INET6) {
        lastError_ = WSAEAFNOSUPPORT;
        return INVALID_SOCKET;
    }
    int kind = type == SocketType::Stream ? SOCK_STREAM : SOCK_DGRAM;
    int domain = family == ADDRESS_FAMILY_INET6 ? AF_INET6 : AF_INET;
    int fd = ::socket(domain, kind | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd >= 0) fd = AwayFromZero(fd);
    if (fd < 0) {
        Fail(errno);
        return INVALID_SOCKET;
    }
    if (family == ADDRESS_FAMILY_INET6) {
        // NOTE: explicitly dual-stack, whatever the system's default, so a
        // server bound to :: also takes IPv4 installations.
        int no = 0;
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &no, sizeof no);
    }
    Record record;
    record.type = type;
    record.family = family;
    records_[static_cast<SOCKET>(fd)] = record;
    lastError_ = 0;
    return static_cast<SOCKET>(fd);
}

int Sockets::bind(SOCKET s, const SocketAddress& address)
{
    Record* record = Find(s);
    if (record == nullptr) return SOCKET_ERROR;
    int fd = static_cast<int>(s);
    // NOTE: without this a restarted server could not listen again until
    // the connections it closed have left TIME_WAIT; Linux still refuses a
    // second listener on the same port.
    if (record->type == SocketType::Stream) {
        int yes = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    }
    sockaddr_storage system;
    socklen_t length = ToSystem(address, record->family, system);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&system), length) != 0) {
        Fail(errno);
        return SOCKET_ERROR;
    }
    return 0;
}

int Sockets::listen(SOCKET s, int backlog)
{
    Record* record = Find(s);
    if (record == nullptr) return SOCKET_ERROR;
    if (::listen(static_cast<int>(s), backlog) != 0) {
        Fail(errno);
        return SOCKET_ERROR;
    }
    record->listening = true;
    return 0;
}

SOCKET Sockets::accept(SOCKET s, SocketAddress* from)
{
    Record* record = Find(s);
    if (record == nullptr) return INVALID_SOCKET;
    record->acceptArmed = true;
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    int fd = ::accept4(static_cast<int>(s), reinterpret_cast<sockaddr*>(&peer), &length,
                       SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd >= 0) fd = AwayFromZero(fd);
    if (fd < 0) {
        Fail(errno);
        return INVALID_SOCKET;
    }
    if (from != nullptr) *from = FromSystem(peer);
    // As on Winsock, the new socket starts with the listening socket's
    // notification settings.
    Record accepted;
    accepted.type = SocketType::Stream;
    accepted.family = record->family;
    accepted.window = record->window;
    accepted.message = record->message;
    accepted.events = record->events;
    accepted.connected = true;
    records_[static_cast<SOCKET>(fd)] = accepted;
    lastError_ = 0;
    return static_cast<SOCKET>(fd);
}

int Sockets::connect(SOCKET s, const SocketAddress& to)
{
    Record* record = Find(s);
    if (record == nullptr) return SOCKET_ERROR;
    sockaddr_storage system;
    socklen_t systemLength = ToSystem(to, record->family, system);
    int result = ::connect(static_cast<int>(s), reinterpret_cast<const sockaddr*>(&system), systemLength);
    int error = result == 0 ? 0 : errno;
    if (record->type == SocketType::Datagram) {
        if (result != 0) {
            Fail(error);
            return SOCKET_ERROR;
        }
        return 0;
    }
    if (result == 0 || error == EINPROGRESS) {
        // Completion (even an immediate one) is announced by FD_CONNECT.
        record->connecting = true;
        record->writeArmed = true;
    }
    if (result != 0) {
        Fail(error);
        return SOCKET_ERROR;
    }
    return 0;
}

int Sockets::send(SOCKET s, const void* data, int length, int flags)
{
    Record* record = Find(s);
    if (record == nullptr) return SOCKET_ERROR;
    if (length < 0 || (length > 0 && data == nullptr)) {
        lastError_ = WSAEFAULT;
        return SOCKET_ERROR;
    }
    ssize_t sent = ::send(static_cast<int>(s), data, static_cast<std::size_t>(length), flags | MSG_NOSIGNAL);
    if (sent < 0) {
        int error = errno;
        if (error == EAGAIN || error == EWOULDBLOCK || error == ENOBUFS) record->writeArmed = true;
        Fail(error);
        return SOCKET_ERROR;
    }
    return static_cast<int>(sent);
}

int Sockets::sendto(SOCKET s, const void* data, int length, int flags, const SocketAddress& to)
{
    Record* record = Find(s);
    if (record == nullptr) return SOCKET_ERROR;
    if (length < 0 || (length > 0 && data == nullptr)) {
        lastError_ = WSAEFAULT;
        return SOCKET_ERROR;
    }
    sockaddr_storage system;
    socklen_t systemLength = ToSystem(to, record->family, system);
    ssize_t sent = ::sendto(static_cast<int>(s), data, static_cast<std::size_t>(length), flags | MSG_NOSIGNAL,
                            reinterpret_cast<const sockaddr*>(&system), systemLength);
    if (sent < 0) {
        int error = errno;
        if (error == EAGAIN || error == EWOULDBLOCK || error == ENOBUFS) record->writeArmed = true;
        Fail(error);
        return SOCKET_ERROR;
    }
    return static_cast<int>(sent);
}

int Sockets::recv(SOCKET s, void* buffer, int length, int flags)
{
    Record* record = Find(s);
    if (record == nullptr) return SOCKET_ERROR;
    record->readArmed = true;
    if (length < 0 || (length > 0 && buffer == nullptr)) {
        lastError_ = WSAEFAULT;
        return SOCKET_ERROR;
    }
    ssize_t got = ::recv(static_cast<int>(s), buffer, static_cast<std::size_t>(length), flags);
    if (got < 0) {
        Fail(errno);
        return SOCKET_ERROR;
    }
    return static_cast<int>(got);
}

int Sockets::recvfrom(SOCKET s, void* buffer, int length, int flags, SocketAddress* from)
{
    Record* record = Find(s);
    if (record == nullptr) return SOCKET_ERROR;
    record->readArmed = true;
    if (length < 0 || (length > 0 && buffer == nullptr)) {
        lastError_ = WSAEFAULT;
        return SOCKET_ERROR;
    }
    sockaddr_storage peer{};
    socklen_t peerLength = sizeof peer;
    // MSG_TRUNC makes a datagram socket report the datagram's real length,
    // so that an over-long one can be told from one that fits exactly.
    int extra = record->type == SocketType::Datagram ? MSG_TRUNC : 0;
    ssize_t got = ::recvfrom(static_cast<int>(s), buffer, static_cast<std::size_t>(length), flags | extra,
                             reinterpret_cast<sockaddr*>(&peer), &peerLength);
    if (got < 0) {
        Fail(errno);
        return SOCKET_ERROR;
    }
    if (from != nullptr) *from = FromSystem(peer);
    if (got > length) {
        lastError_ = WSAEMSGSIZE;
        return SOCKET_ERROR;
    }
    return static_cast<int>(got);
}

int Sockets::shutdown(SOCKET s, int how)
{
    if (Find(s) == nullptr) return SOCKET_ERROR;
    int systemHow = how == 0 ? SHUT_RD : how == 1 ? SHUT_WR : SHUT_RDWR;
    if (::shutdown(static_cast<int>(s), systemHow) != 0) {
        Fail(errno);
        return SOCKET_ERROR;
    }
    return 0;
}

int Sockets::closesocket(SOCKET s)
{
    if (Find(s) == nullptr) return SOCKET_ERROR;
    records_.erase(s);
    if (::close(static_cast<int>(s)) != 0) {
        Fail(errno);
        return SOCKET_ERROR;
    }
    return 0;
}

int Sockets::WSAAsyncSelect(SOCKET s, HWND window, UINT message, LONG events)
{
    Record* record = Find(s);
    if (record == nullptr) return SOCKET_ERROR;
    record->window = events != 0 ? window : nullptr;
    record->message = message;
    record->events = window != nullptr ? events : 0;
    // A new selection reports conditions that already hold.
    record->readArmed = true;
    record->acceptArmed = true;
    record->writeArmed = true;
    return 0;
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

bool Sockets::LocalAddress(SOCKET s, SocketAddress& address)
{
    if (Find(s) == nullptr) return false;
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    if (::getsockname(static_cast<int>(s), reinterpret_cast<sockaddr*>(&local), &length) != 0) return Fail(errno);
    address = FromSystem(local);
    return true;
}

short Sockets::WatchedEvents(const Record& record) const
{
    if (record.window == nullptr || record.events == 0 || record.finished) return 0;
    if (record.listening) return (record.events & FD_ACCEPT) && record.acceptArmed ? POLLIN : 0;
    short watched = 0;
    if (record.type == SocketType::Stream) {
        if (record.connecting) return POLLOUT;
        if (!record.connected) return 0;
        if (record.readArmed && (record.events & (FD_READ | FD_CLOSE))) watched |= POLLIN;
    } else if (record.readArmed && (record.events & FD_READ)) {
        watched |= POLLIN;
    }
    if (record.writeArmed && (record.events & FD_WRITE)) watched |= POLLOUT;
    return watched;
}

void Sockets::Notify(SOCKET s, Record& record, LONG event, int error)
{
    if ((record.events & event) == 0) return;
    LPARAM lParam = static_cast<LPARAM>((static_cast<std::uint32_t>(error & 0xFFFF) << 16) |
                                        static_cast<std::uint32_t>(event));
    PostMessageA(record.window, record.message, static_cast<WPARAM>(s), lParam);
}

void Sockets::PollStream(SOCKET s, Record& record, short revents)
{
    int fd = static_cast<int>(s);
    if (record.connecting) {
        if ((revents & (POLLOUT | POLLERR | POLLHUP)) == 0) return;
        int error = 0;
        socklen_t length = sizeof error;
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
        record.connecting = false;
        if (error == 0)
            record.connected = true;
        else
            record.finished = true;
        Notify(s, record, FD_CONNECT, ToWinsockError(error));
        return;
    }
    if (revents & (POLLIN | POLLERR | POLLHUP)) {
        if (!record.readArmed) return;
        // Peeking tells waiting data from the end of the connection.
        char probe = 0;
        ssize_t got = ::recv(fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
        if (got > 0) {
            record.readArmed = false;
            Notify(s, record, FD_READ, 0);
        } else if (got == 0) {
            record.finished = true;
            Notify(s, record, FD_CLOSE, 0);
            return;
        } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            record.finished = true;
            Notify(s, record, FD_CLOSE, ToWinsockError(errno));
            return;
        }
    }
    if ((revents & POLLOUT) && record.writeArmed) {
        record.writeArmed = false;
        Notify(s, record, FD_WRITE, 0);
    }
}

void Sockets::Poll()
{
    std::vector<pollfd> set;
    std::vector<SOCKET> handles;
    for (const auto& [s, record] : records_) {
        short watched = WatchedEvents(record);
        if (watched == 0) continue;
        set.push_back(pollfd{static_cast<int>(s), watched, 0});
        handles.push_back(s);
    }
    if (set.empty() || ::poll(set.data(), set.size(), 0) <= 0) return;
    // Posting runs no handler, so the records stay put during this walk.
    for (std::size_t i = 0; i < set.size(); ++i) {
        short revents = set[i].revents;
        if (revents == 0) continue;
        SOCKET s = handles[i];
        Record& record = records_[s];
        if (record.listening) {
            if (revents & POLLIN) {
                record.acceptArmed = false;
                Notify(s, record, FD_ACCEPT, 0);
            }
        } else if (record.type == SocketType::Stream) {
            PollStream(s, record, revents);
        } else {
            if ((revents & (POLLIN | POLLERR)) && record.readArmed && (record.events & FD_READ)) {
                record.readArmed = false;
                Notify(s, record, FD_READ, 0);
            } else if (revents & POLLERR) {
                // Nobody will read the error out; clear it so it does not
                // wake every pass.
                int error = 0;
                socklen_t length = sizeof error;
                ::getsockopt(static_cast<int>(s), SOL_SOCKET, SO_ERROR, &error, &length);
            }
            if ((revents & POLLOUT) && record.writeArmed) {
                record.writeArmed = false;
                Notify(s, record, FD_WRITE, 0);
            }
        }
    }
}

void Sockets::CollectWaitDescriptors(std::vector<int>& fds)
{
    for (const auto& [s, record] : records_)
        if (WatchedEvents(record) & POLLIN) fds.push_back(static_cast<int>(s));
}

}  // namespace platform
