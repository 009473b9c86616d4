// The two OSC addresses an operator writes: where to send ("host:port") and
// where to listen ("[addr:]port", loopback when no address is given, so
// that only this machine can steer the installation unless asked). Both are
// read by platform/sockets/Endpoint.h: an IPv6 address goes in brackets.
#pragma once

#include <cstdint>
#include <string>

struct OscEndpoint {
    std::string host;
    std::uint16_t port = 0;
};

inline constexpr const char* kOscDefaultListenHost = "127.0.0.1";

// False with the reason in `error` (naming the option and the text).
bool ParseOscSendEndpoint(const std::string& text, OscEndpoint& endpoint, std::string& error);
bool ParseOscListenEndpoint(const std::string& text, OscEndpoint& endpoint, std::string& error);
