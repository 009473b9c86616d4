// What a show-control system's datagrams become: commands with their values,
// or ignored and counted, whatever the bytes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "operator/OscControl.h"
#include "operator/OscEndpoint.h"
#include "platform/sockets/OscTransport.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Kind = ControlRequest::Kind;

Bytes Message(const char* path, const char* types = "", float f = 0, std::int32_t i = 0, const char* s = "")
{
    platform::OscOutgoing message;
    message.path = path;
    for (int k = 0; k < 3 && types[k] != '\0'; ++k) message.types[k] = types[k];
    message.f[0] = f;
    message.i = i;
    message.s = s;
    return platform::SerialiseOscMessage(message);
}

// OSC strings: the text, a NUL, zeros to a multiple of four bytes.
void AppendString(Bytes& bytes, const std::string& text)
{
    bytes.insert(bytes.end(), text.begin(), text.end());
    do bytes.push_back(0);
    while (bytes.size() % 4 != 0);
}

void AppendInt32(Bytes& bytes, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<std::uint8_t>(value >> shift));
}

Bytes Raw(const std::string& path, const std::string& types, std::vector<std::uint32_t> words = {})
{
    Bytes bytes;
    AppendString(bytes, path);
    AppendString(bytes, types);
    for (std::uint32_t word : words) AppendInt32(bytes, word);
    return bytes;
}

std::uint32_t FloatBits(float value)
{
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

Bytes Bundle(const std::vector<Bytes>& elements)
{
    Bytes bytes;
    AppendString(bytes, "#bundle");
    AppendInt32(bytes, 0);
    AppendInt32(bytes, 1);  // time tag "now"
    for (const Bytes& element : elements) {
        AppendInt32(bytes, static_cast<std::uint32_t>(element.size()));
        bytes.insert(bytes.end(), element.begin(), element.end());
    }
    return bytes;
}

OscControlResult Decode(const Bytes& bytes) { return DecodeOscControl(bytes.data(), bytes.size()); }

TEST(OscControl, EachCommandBecomesItsRequest)
{
    struct Case {
        Bytes packet;
        Kind kind;
        double value;
    };
    const Case cases[] = {
        {Message("/solvane/threshold", "f", -30.5f), Kind::SetThreshold, -30.5},
        {Message("/solvane/threshold", "f", -90.3f), Kind::SetThreshold, -90.3f},
        {Message("/solvane/threshold", "f", 0.0f), Kind::SetThreshold, 0.0},
        {Message("/solvane/gain", "f", 12.0f), Kind::SetGain, 12.0},
        {Message("/solvane/gain", "f", -40.0f), Kind::SetGain, -40.0},
        {Message("/solvane/rotate", "f", -1.0f), Kind::Turn, -1.0},
        {Message("/solvane/rotate", "f", 0.25f), Kind::Turn, 0.25},
        {Message("/solvane/rotate", "f", 0.0f), Kind::Turn, 0.0},
        {Message("/solvane/flash"), Kind::Flash, 0},
        {Message("/solvane/quit"), Kind::Close, 0},
        // Desks that send whole numbers as integers.
        {Message("/solvane/threshold", "i", 0, -20), Kind::SetThreshold, -20.0},
        {Message("/solvane/gain", "i", 0, 40), Kind::SetGain, 40.0},
        {Message("/solvane/rotate", "i", 0, -1), Kind::Turn, -1.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.packet.begin(), c.packet.end()).c_str());
        const OscControlResult result = Decode(c.packet);
        ASSERT_EQ(result.requests.size(), 1u);
        EXPECT_EQ(result.requests[0].kind, c.kind);
        EXPECT_DOUBLE_EQ(result.requests[0].value, c.value);
        EXPECT_EQ(result.ignored, 0u);
    }
}

TEST(OscControl, MalformedAndUnknownMessagesAreIgnoredAndCounted)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float infinity = std::numeric_limits<float>::infinity();
    Bytes threshold = Message("/solvane/threshold", "f", -30.0f);
    Bytes truncated(threshold.begin(), threshold.end() - 4);
    Bytes oddLength(threshold.begin(), threshold.end() - 1);
    Bytes unterminatedPath{'/', 's', 'o', 'l', 'v', 'a', 'n', 'e'};
    Bytes oversize = threshold;
    oversize.resize(platform::kOscMaxPacketBytes + 1, 0);
    Bytes longString = Raw("/solvane/gain", ",s", {0x41414141, 0x41414141});  // no terminator
    Bytes hugeBlob = Raw("/solvane/gain", ",b", {0x7FFFFFFF, 0});
    Bytes badElementSize = Bundle({Message("/solvane/quit")});
    badElementSize[19] = 0xF0;  // the element claims more than the bundle holds
    Bytes deep = Message("/solvane/quit");
    for (int k = 0; k < platform::kOscMaxBundleDepth + 1; ++k) deep = Bundle({deep});

    struct Case {
        const char* name;
        Bytes packet;
        OscRefusal refusal;
    };
    const Case cases[] = {
        {"empty datagram", {}, OscRefusal::Malformed},
        {"truncated argument", truncated, OscRefusal::Malformed},
        {"length not a multiple of four", oddLength, OscRefusal::Malformed},
        {"unterminated path", unterminatedPath, OscRefusal::Malformed},
        {"path without a slash", Raw("solvane/quit", ","), OscRefusal::Malformed},
        {"type tags without a comma", Raw("/solvane/threshold", "f", {FloatBits(-30)}), OscRefusal::Malformed},
        {"unknown type tag", Raw("/solvane/threshold", ",@", {0}), OscRefusal::Malformed},
        {"string running past the end", longString, OscRefusal::Malformed},
        {"blob longer than the datagram", hugeBlob, OscRefusal::Malformed},
        {"oversize datagram", oversize, OscRefusal::Oversize},
        {"bundle element size past the end", badElementSize, OscRefusal::Malformed},
        {"bundles nested too deep", deep, OscRefusal::Malformed},
        {"unknown address", Message("/solvane/explode"), OscRefusal::UnknownAddress},
        {"address in other case", Message("/SOLVANE/QUIT"), OscRefusal::UnknownAddress},
        {"address with a trailing slash", Message("/solvane/quit/"), OscRefusal::UnknownAddress},
        {"threshold as an int below one sample", Message("/solvane/threshold", "i", 0, -91), OscRefusal::OutOfRange},
        {"threshold without a value", Message("/solvane/threshold"), OscRefusal::WrongTypes},
        {"threshold with two values", Message("/solvane/threshold", "ff", -30.0f), OscRefusal::WrongTypes},
        {"gain as a string", Message("/solvane/gain", "s", 0, 0, "loud"), OscRefusal::WrongTypes},
        {"quit with an argument", Message("/solvane/quit", "i", 0, 1), OscRefusal::WrongTypes},
        {"flash with an argument", Message("/solvane/flash", "f", 1.0f), OscRefusal::WrongTypes},
        {"threshold above full scale", Message("/solvane/threshold", "f", 3.0f), OscRefusal::OutOfRange},
        {"threshold far below", Message("/solvane/threshold", "f", -200.0f), OscRefusal::OutOfRange},
        {"threshold below one sample", Message("/solvane/threshold", "f", -90.4f), OscRefusal::OutOfRange},
        {"threshold not a number", Message("/solvane/threshold", "f", nan), OscRefusal::OutOfRange},
        {"gain infinite", Message("/solvane/gain", "f", infinity), OscRefusal::OutOfRange},
        {"gain too high", Message("/solvane/gain", "f", 41.0f), OscRefusal::OutOfRange},
        {"rotate past one", Message("/solvane/rotate", "f", 1.5f), OscRefusal::OutOfRange},
        {"rotate past minus one", Message("/solvane/rotate", "f", -1.01f), OscRefusal::OutOfRange},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const OscControlResult result = Decode(c.packet);
        EXPECT_TRUE(result.requests.empty());
        EXPECT_EQ(result.ignored, 1u);
        EXPECT_EQ(result.firstRefusal, c.refusal);
    }
}

// Whatever was cut off, a shortened command is never taken for a command.
TEST(OscControl, EveryShortenedCommandIsIgnored)
{
    const Bytes commands[] = {Message("/solvane/threshold", "f", -30.0f), Message("/solvane/gain", "f", 6.0f),
                              Message("/solvane/rotate", "f", 0.5f), Message("/solvane/quit")};
    for (const Bytes& command : commands) {
        for (std::size_t length = 0; length < command.size(); ++length) {
            SCOPED_TRACE(length);
            const Bytes prefix(command.begin(), command.begin() + static_cast<std::ptrdiff_t>(length));
            const OscControlResult result = Decode(prefix);
            EXPECT_TRUE(result.requests.empty());
            EXPECT_EQ(result.ignored, 1u);
        }
    }
}

TEST(OscControl, BundlesCarrySeveralCommandsAndCountTheirBadElements)
{
    const Bytes bundle = Bundle({Message("/solvane/gain", "f", 3.0f), Message("/solvane/nothing"),
                                 Bundle({Message("/solvane/flash")}), Message("/solvane/rotate", "f", 9.0f)});
    const OscControlResult result = Decode(bundle);
    ASSERT_EQ(result.requests.size(), 2u);
    EXPECT_EQ(result.requests[0].kind, Kind::SetGain);
    EXPECT_EQ(result.requests[1].kind, Kind::Flash);
    EXPECT_EQ(result.ignored, 2u);
    EXPECT_EQ(result.firstRefusal, OscRefusal::UnknownAddress);
    EXPECT_EQ(result.firstRefusedPath, "/solvane/nothing");
}

TEST(OscEndpoint, SendAndListenAddresses)
{
    struct Case {
        const char* text;
        bool listen;
        bool ok;
        const char* host;
        std::uint16_t port;
    };
    const Case cases[] = {
        {"127.0.0.1:9000", false, true, "127.0.0.1", 9000},
        {"desk.local:53000", false, true, "desk.local", 53000},
        {"9000", false, false, "", 0},
        {":9000", false, false, "", 0},
        {"host:", false, false, "", 0},
        {"host:0", false, false, "", 0},
        {"host:65536", false, false, "", 0},
        {"host:12ab", false, false, "", 0},
        {"9001", true, true, "127.0.0.1", 9001},
        {"0.0.0.0:9001", true, true, "0.0.0.0", 9001},
        {"192.168.1.20:8000", true, true, "192.168.1.20", 8000},
        {"", true, false, "", 0},
        {":9001", true, false, "", 0},
        {"port", true, false, "", 0},
        {"70000", true, false, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        OscEndpoint endpoint;
        std::string error;
        const bool ok = c.listen ? ParseOscListenEndpoint(c.text, endpoint, error)
                                 : ParseOscSendEndpoint(c.text, endpoint, error);
        EXPECT_EQ(ok, c.ok);
        if (ok) {
            EXPECT_EQ(endpoint.host, c.host);
            EXPECT_EQ(endpoint.port, c.port);
        } else {
            EXPECT_NE(error.find(c.text), std::string::npos);
        }
    }
}

}  // namespace
