// liblo builds and reads the messages and sends them; the receiving socket
// is a plain POSIX one, so that each datagram reaches the parser as bytes
// and everything a sender can put on the wire goes through one function.
#include "platform/sockets/OscTransport.h"

#include <lo/lo.h>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

constexpr char kBundleTag[8] = {'#', 'b', 'u', 'n', 'd', 'l', 'e', '\0'};
constexpr std::size_t kBundleHeaderBytes = 16;  // the tag and the time tag

std::uint32_t ReadBigEndian32(const std::uint8_t* bytes)
{
    return (static_cast<std::uint32_t>(bytes[0]) << 24) | (static_cast<std::uint32_t>(bytes[1]) << 16) |
           (static_cast<std::uint32_t>(bytes[2]) << 8) | static_cast<std::uint32_t>(bytes[3]);
}

void Refuse(OscPacket& packet, OscParseError error)
{
    ++packet.refused;
    if (packet.firstError == OscParseError::None) packet.firstError = error;
}

// A free-standing message. liblo checks the path, the type tags and every
// argument against the size before it reads them.
void ParseMessage(const std::uint8_t* data, std::size_t size, OscPacket& packet)
{
    if (size == 0 || data[0] != '/') {
        Refuse(packet, OscParseError::Malformed);
        return;
    }
    int result = 0;
    // NOTE: liblo copies what it keeps and does not write to the data; its
    // signature simply predates const.
    lo_message message = lo_message_deserialise(const_cast<std::uint8_t*>(data), size, &result);
    if (message == nullptr) {
        Refuse(packet, OscParseError::Malformed);
        return;
    }
    OscMessage parsed;
    parsed.path.assign(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), size));
    const char* types = lo_message_get_types(message);
    const int count = lo_message_get_argc(message);
    lo_arg** values = lo_message_get_argv(message);
    parsed.types.assign(types != nullptr ? types : "");
    if (static_cast<int>(parsed.types.size()) != count) {
        lo_message_free(message);
        Refuse(packet, OscParseError::Malformed);
        return;
    }
    parsed.arguments.resize(static_cast<std::size_t>(count));
    for (int k = 0; k < count; ++k) {
        OscArgument& argument = parsed.arguments[static_cast<std::size_t>(k)];
        argument.type = parsed.types[static_cast<std::size_t>(k)];
        // NOTE: liblo's argument pointers are only 4-byte aligned, less than
        // its lo_arg union asks for, so the values are copied out as bytes.
        const auto* value = reinterpret_cast<const char*>(values[k]);
        if (argument.type == LO_INT32) std::memcpy(&argument.i, value, sizeof argument.i);
        else if (argument.type == LO_FLOAT) std::memcpy(&argument.f, value, sizeof argument.f);
        else if (argument.type == LO_STRING) argument.s = value;
    }
    lo_message_free(message);
    packet.messages.push_back(std::move(parsed));
}

void ParseElement(const std::uint8_t* data, std::size_t size, int depth, OscPacket& packet)
{
    if (size < sizeof kBundleTag || std::memcmp(data, kBundleTag, sizeof kBundleTag) != 0) {
        ParseMessage(data, size, packet);
        return;
    }
    if (depth >= kOscMaxBundleDepth || size < kBundleHeaderBytes || size % 4 != 0) {
        Refuse(packet, OscParseError::Malformed);
        return;
    }
    std::size_t offset = kBundleHeaderBytes;
    while (offset < size) {
        if (size - offset < 4) {
            Refuse(packet, OscParseError::Malformed);
            return;
        }
        const std::uint32_t length = ReadBigEndian32(data + offset);
        offset += 4;
        // An element that claims more than is left ends the bundle: nothing
        // after it can be found again.
        if (length == 0 || length % 4 != 0 || length > size - offset) {
            Refuse(packet, OscParseError::Malformed);
            return;
        }
        ParseElement(data + offset, length, depth + 1, packet);
        offset += length;
    }
}

lo_message BuildMessage(const OscOutgoing& message)
{
    lo_message built = lo_message_new();
    if (built == nullptr) return nullptr;
    int floats = 0;
    bool ok = true;
    for (const char* type = message.types; *type != '\0' && type < message.types + sizeof message.types; ++type) {
        if (*type == 'i') ok = lo_message_add_int32(built, message.i) == 0;
        else if (*type == 'f' && floats < 2) ok = lo_message_add_float(built, message.f[floats++]) == 0;
        else if (*type == 's') ok = lo_message_add_string(built, message.s != nullptr ? message.s : "") == 0;
        else ok = false;
        if (!ok) break;
    }
    if (!ok) {
        lo_message_free(built);
        return nullptr;
    }
    return built;
}

}  // namespace

OscPacket ParseOscPacket(const void* data, std::size_t size)
{
    OscPacket packet;
    if (size > kOscMaxPacketBytes) {
        Refuse(packet, OscParseError::Oversize);
        return packet;
    }
    if (data == nullptr || size == 0) {
        Refuse(packet, OscParseError::Malformed);
        return packet;
    }
    ParseElement(static_cast<const std::uint8_t*>(data), size, 0, packet);
    return packet;
}

std::vector<std::uint8_t> SerialiseOscMessage(const OscOutgoing& message)
{
    std::vector<std::uint8_t> bytes;
    lo_message built = BuildMessage(message);
    if (built == nullptr) return bytes;
    std::size_t size = 0;
    void* serialised = lo_message_serialise(built, message.path, nullptr, &size);
    if (serialised != nullptr) {
        const auto* begin = static_cast<const std::uint8_t*>(serialised);
        bytes.assign(begin, begin + size);
        std::free(serialised);
    }
    lo_message_free(built);
    return bytes;
}

struct OscSendSocket::Address {
    lo_address address = nullptr;
    ~Address()
    {
        if (address != nullptr) lo_address_free(address);
    }
};

OscSendSocket::OscSendSocket() = default;
OscSendSocket::~OscSendSocket() = default;

bool OscSendSocket::Open(const std::string& host, const std::string& port)
{
    auto address = std::make_unique<Address>();
    address->address = lo_address_new(host.c_str(), port.c_str());
    if (address->address == nullptr) return false;
    address_ = std::move(address);
    return true;
}

bool OscSendSocket::Send(const OscOutgoing& message, std::string& error)
{
    if (!address_) {
        error = "not open";
        return false;
    }
    lo_message built = BuildMessage(message);
    if (built == nullptr) {
        error = "cannot build the message";
        return false;
    }
    const int sent = lo_send_message(address_->address, message.path, built);
    lo_message_free(built);
    if (sent < 0) {
        const char* why = lo_address_errstr(address_->address);
        error = why != nullptr ? why : "send failed";
        return false;
    }
    return true;
}

OscReceiveSocket::~OscReceiveSocket() { Close(); }

bool OscReceiveSocket::Open(const std::string& host, std::uint16_t port, std::string& error)
{
    Close();
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    const int resolved = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (resolved != 0 || found == nullptr) {
        error = "cannot resolve \"" + host + "\": " + gai_strerror(resolved);
        return false;
    }
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::string("cannot make a socket: ") + std::strerror(errno);
        freeaddrinfo(found);
        return false;
    }
    if (::bind(fd, found->ai_addr, found->ai_addrlen) != 0) {
        error = "cannot listen on " + host + ":" + service + ": " + std::strerror(errno);
        freeaddrinfo(found);
        ::close(fd);
        return false;
    }
    freeaddrinfo(found);
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) == 0) port_ = ntohs(bound.sin_port);
    fd_ = fd;
    return true;
}

void OscReceiveSocket::Close()
{
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    port_ = 0;
}

std::string OscSource::Text() const
{
    char text[INET_ADDRSTRLEN + 8];
    in_addr raw{};
    raw.s_addr = htonl(address);
    if (inet_ntop(AF_INET, &raw, text, INET_ADDRSTRLEN) == nullptr) return "?";
    return std::string(text) + ":" + std::to_string(port);
}

long OscReceiveSocket::Receive(void* buffer, std::size_t capacity, int timeoutMs, OscSource* from)
{
    if (fd_ < 0) return kFailed;
    pollfd watched{fd_, POLLIN, 0};
    const int ready = ::poll(&watched, 1, timeoutMs);
    if (ready < 0) return errno == EINTR ? kNothing : kFailed;
    if (ready == 0) return kNothing;
    // NOTE: MSG_TRUNC makes Linux return the datagram's real length, so an
    // oversize one is recognised even though only capacity bytes are kept.
    sockaddr_in sender{};
    socklen_t senderLength = sizeof sender;
    const ssize_t received = ::recvfrom(fd_, buffer, capacity, MSG_TRUNC | MSG_DONTWAIT,
                                        reinterpret_cast<sockaddr*>(&sender), &senderLength);
    if (received < 0) return (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) ? kNothing : kFailed;
    if (from != nullptr) {
        from->address = sender.sin_family == AF_INET ? ntohl(sender.sin_addr.s_addr) : 0;
        from->port = sender.sin_family == AF_INET ? ntohs(sender.sin_port) : 0;
    }
    return static_cast<long>(received);
}

}  // namespace platform
