// Open Sound Control over UDP, the one place that sees liblo and the socket
// calls behind it: a sender to one host and port, a receiver bound to one
// address and port, and the parser that turns one received datagram into
// the messages it holds. The program above speaks in plain values only.
//
// Threads: each object is used by one thread at a time (the sender by the
// OSC sending thread, the receiver by the OSC listening thread); the parser
// is a pure function, callable from anywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/NonCopyable.h"

namespace platform {

// One argument of a message. Only the types the installation speaks are
// kept apart; any other type arrives as its tag with no value.
struct OscArgument {
    char type = 0;          // 'i', 'f', 's', or another OSC type tag
    std::int32_t i = 0;
    float f = 0;
    std::string s;
};

struct OscMessage {
    std::string path;
    std::string types;      // the type tags, without the leading ','
    std::vector<OscArgument> arguments;
};

// Why a datagram, or one message in a bundle, was refused.
enum class OscParseError {
    None,
    Oversize,    // longer than kMaxPacketBytes
    Malformed,   // truncated, unterminated strings, a bad type tag, bad bundle sizes
};

// Commands are a few dozen bytes; a longer datagram is refused unread.
inline constexpr std::size_t kOscMaxPacketBytes = 1024;
// Bundles inside bundles deeper than this are refused.
inline constexpr int kOscMaxBundleDepth = 4;

struct OscPacket {
    std::vector<OscMessage> messages;  // in the order they appear
    std::uint32_t refused = 0;         // messages (or the whole datagram) that could not be read
    OscParseError firstError = OscParseError::None;
};

// Reads one datagram: a message, or a bundle of messages (their time tags
// are not honoured: everything is due now). Never reads outside data; a
// size over kOscMaxPacketBytes is refused before data is looked at.
OscPacket ParseOscPacket(const void* data, std::size_t size);

// One outgoing message: a path and up to three arguments, all of them plain
// values or string literals, so that making one allocates nothing.
struct OscOutgoing {
    const char* path = "";
    char types[4] = {};     // e.g. "ff", "is", "" (no arguments)
    std::int32_t i = 0;     // the value of the first 'i'
    float f[2] = {};        // the values of the 'f's in order
    const char* s = "";     // the value of the 's' (a literal that outlives the message)
};

// Builds the bytes of a message as it goes on the wire (tests, the fuzzer's
// seeds, the benchmark). Empty when the message cannot be built.
std::vector<std::uint8_t> SerialiseOscMessage(const OscOutgoing& message);

class OscSendSocket : NonCopyable {
public:
    OscSendSocket();
    ~OscSendSocket();

    // Names the destination; nothing is resolved or sent yet.
    bool Open(const std::string& host, const std::string& port);
    // One UDP datagram. False with the reason in `error` when the system
    // refused it (an unknown host, no route); a host that is not listening
    // is not noticed, as usual for UDP.
    bool Send(const OscOutgoing& message, std::string& error);

private:
    struct Address;
    std::unique_ptr<Address> address_;
};

// Where a received datagram came from (IPv4, host byte order). UDP keeps no
// proof of it: anyone on the path can forge it.
struct OscSource {
    std::uint32_t address = 0;
    std::uint16_t port = 0;
    std::string Text() const;  // "10.0.0.5:53000"
};

class OscReceiveSocket : NonCopyable {
public:
    OscReceiveSocket() = default;
    ~OscReceiveSocket();

    // Binds an IPv4 UDP socket; host may be a name or a dotted address,
    // port 0 lets the system choose (see Port()).
    bool Open(const std::string& host, std::uint16_t port, std::string& error);
    void Close();
    std::uint16_t Port() const { return port_; }

    // Waits at most timeoutMs for one datagram and copies up to capacity
    // bytes of it. Returns its whole length (possibly more than capacity:
    // the rest was discarded), kNothing when none came in time, kFailed on
    // a socket error. `from`, when given, receives the sender's address.
    static constexpr long kNothing = -1;
    static constexpr long kFailed = -2;
    long Receive(void* buffer, std::size_t capacity, int timeoutMs, OscSource* from = nullptr);

private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

}  // namespace platform
