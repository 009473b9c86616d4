// The sockets layer that stands in for Winsock: non-blocking IPv4 and IPv6
// TCP and UDP sockets behind Winsock's call names and results, and the
// notifier that stands in for WSAAsyncSelect.
//
// A socket registered with WSAAsyncSelect gets its events as posted window
// messages: wParam is the socket, the low word of lParam the event (FD_READ,
// FD_WRITE, FD_ACCEPT, FD_CONNECT, FD_CLOSE) and the high word an error code.
// The message loop polls this object like any other event source; Poll()
// looks at readiness without waiting and posts what it finds. Winsock's
// re-enabling rules hold: after an FD_READ no other FD_READ is posted for the
// socket until it is read from, after an FD_ACCEPT none until accept is
// called, and FD_WRITE comes once when the socket becomes writable and again
// only after a send that would have blocked.
//
// Everything runs on the loop thread. Portable code includes this header and
// never the system's socket headers.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "common/NonCopyable.h"
#include "platform/system/messages.h"
#include "platform/system/win32types.h"

namespace platform {

using SOCKET = std::uintptr_t;
// NOTE: handle 0 is never handed out, so code that uses 0 for "no socket"
// stays right even when the process was started with stdin closed.
inline constexpr SOCKET INVALID_SOCKET = ~static_cast<SOCKET>(0);
inline constexpr int SOCKET_ERROR = -1;

// Winsock's error numbers, as WSAGetLastError reports them.
inline constexpr int WSAEINTR = 10004;
inline constexpr int WSAEBADF = 10009;
inline constexpr int WSAEACCES = 10013;
inline constexpr int WSAEFAULT = 10014;
inline constexpr int WSAEINVAL = 10022;
inline constexpr int WSAEMFILE = 10024;
inline constexpr int WSAEWOULDBLOCK = 10035;
inline constexpr int WSAEALREADY = 10037;
inline constexpr int WSAENOTSOCK = 10038;
inline constexpr int WSAEMSGSIZE = 10040;
inline constexpr int WSAEAFNOSUPPORT = 10047;
inline constexpr int WSAEADDRINUSE = 10048;
inline constexpr int WSAEADDRNOTAVAIL = 10049;
inline constexpr int WSAENETDOWN = 10050;
inline constexpr int WSAENETUNREACH = 10051;
inline constexpr int WSAECONNABORTED = 10053;
inline constexpr int WSAECONNRESET = 10054;
inline constexpr int WSAENOBUFS = 10055;
inline constexpr int WSAEISCONN = 10056;
inline constexpr int WSAENOTCONN = 10057;
inline constexpr int WSAETIMEDOUT = 10060;
inline constexpr int WSAECONNREFUSED = 10061;
inline constexpr int WSAEHOSTUNREACH = 10065;
inline constexpr int WSANOTINITIALISED = 10093;
inline constexpr int WSAHOST_NOT_FOUND = 11001;
inline constexpr int WSAEOTHER = 10101;  // anything without a Winsock name

// shutdown's "how": both directions.
inline constexpr int SD_BOTH = 2;

enum class SocketType { Stream, Datagram };

// A socket address of either family; the port and the addresses are in
// network byte order. An IPv4 address that arrives on an IPv6 socket as
// ::ffff:a.b.c.d is handed out as the IPv4 address, so that one machine has
// one spelling whichever socket heard it.
struct SocketAddress {
    std::uint16_t family = 0;        // 0: none yet, ADDRESS_FAMILY_INET or ADDRESS_FAMILY_INET6
    std::uint16_t port = 0;
    std::uint32_t address = 0;       // IPv4
    std::uint8_t address6[16] = {};  // IPv6
    std::uint32_t scope = 0;         // IPv6 interface of a link-local address
};

inline constexpr std::uint16_t ADDRESS_FAMILY_INET = 2;  // AF_INET on every system we run on
inline constexpr std::uint16_t ADDRESS_FAMILY_INET6 = 10;

// True when both name the same machine address (the ports are not compared).
bool SameHost(const SocketAddress& a, const SocketAddress& b);

std::uint16_t HostToNetwork16(std::uint16_t value);
std::uint32_t HostToNetwork32(std::uint32_t value);
std::uint16_t NetworkToHost16(std::uint16_t value);
// "a.b.c.d:port" or "[v6]:port", for log lines.
std::string FormatAddress(const SocketAddress& address);
// A short description of a Winsock error number.
const char* SocketErrorText(int error);

class Sockets : public EventSource, NonCopyable {
public:
    Sockets() = default;
    ~Sockets() override;  // closes every socket still open

    // Version negotiation has nothing to do here; the calls count start-ups
    // so that an unbalanced cleanup reports an error as Winsock does.
    int WSAStartup(WORD requested, WORD& highVersion);
    int WSACleanup();

    // The calls. Every socket is non-blocking; a failure returns
    // INVALID_SOCKET or SOCKET_ERROR and WSAGetLastError tells why. An IPv6
    // socket also serves IPv4 (addresses of either family may be given to it).
    SOCKET socket(SocketType type, std::uint16_t family = ADDRESS_FAMILY_INET);
    int bind(SOCKET s, const SocketAddress& address);
    int listen(SOCKET s, int backlog);
    SOCKET accept(SOCKET s, SocketAddress* from);
    int connect(SOCKET s, const SocketAddress& to);
    int send(SOCKET s, const void* data, int length, int flags);
    int sendto(SOCKET s, const void* data, int length, int flags, const SocketAddress& to);
    int recv(SOCKET s, void* buffer, int length, int flags);
    // A datagram longer than length fills the buffer and fails with
    // WSAEMSGSIZE, the rest of it discarded, as on Winsock.
    int recvfrom(SOCKET s, void* buffer, int length, int flags, SocketAddress* from);
    int shutdown(SOCKET s, int how);
    int closesocket(SOCKET s);
    // events 0 (or a null window) stops the notifications.
    int WSAAsyncSelect(SOCKET s, HWND window, UINT message, LONG events);
    int WSAGetLastError() const { return lastError_; }

    // Name resolution (getaddrinfo, either family): a host name, a dotted
    // IPv4 address or an IPv6 address (brackets allowed). The addresses in
    // the resolver's order, port 0; false when there is none.
    bool Resolve(const char* host, std::vector<SocketAddress>& addresses);
    // The first IPv4 address of a name, in network byte order.
    bool ResolveIPv4(const char* host, std::uint32_t& address);
    // The address a socket is bound to (its port once the system chose one).
    bool LocalAddress(SOCKET s, SocketAddress& address);

    // EventSource: posts the notifications that became due since the last
    // pass. The wait descriptors are those of sockets that could yield a
    // notification on becoming readable; the idle wait should wait for
    // readability (POLLIN) on them only. A connection in progress is
    // noticed at the next pass.
    void Poll() override;
    void CollectWaitDescriptors(std::vector<int>& fds) override;

private:
    struct Record {
        SocketType type = SocketType::Stream;
        std::uint16_t family = ADDRESS_FAMILY_INET;
        HWND window = nullptr;
        UINT message = 0;
        LONG events = 0;
        bool listening = false;
        bool connecting = false;
        bool connected = false;
        bool finished = false;     // FD_CLOSE posted, or the connection failed
        bool readArmed = true;
        bool acceptArmed = true;
        bool writeArmed = true;
    };

    Record* Find(SOCKET s);
    bool Fail(int systemError);
    short WatchedEvents(const Record& record) const;
    void Notify(SOCKET s, Record& record, LONG event, int error);
    void PollStream(SOCKET s, Record& record, short revents);

    std::map<SOCKET, Record> records_;
    int lastError_ = 0;
    int startups_ = 0;
};

}  // namespace platform
