// POSIX implementation of the Winsock stand-in: non-blocking sockets, errno
// translated to Winsock's numbers, and readiness turned into the window
// messages that WSAAsyncSelect would post.
#include "platform/sockets/Sockets.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/sockets/SystemAddress.h"

namespace platform {

namespace {

// Handle 0 means "no socket" to the callers; a socket that landed on
// descriptor 0 (stdin was closed) moves up.
int AwayFromZero(int fd)
{
    if (fd != 0) return fd;
    int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 1);
    ::close(fd);
    return moved;
}

}  // namespace

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
