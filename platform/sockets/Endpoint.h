// The one reading of an address an operator writes for a socket:
//   "host:port"    a name or an IPv4 address, and the port
//   "[v6]:port"    an IPv6 address in brackets (with an optional %scope)
//   "port"         the port alone; the caller picks the host
// A port is 1 to 5 decimal digits, nothing else (no sign, no blanks), from
// 1 to 65535; 0 only where the caller says it means "pick one". An IPv6
// address without brackets is refused (its last colon would be read as the
// port's), as is a colon with nothing before it.
#pragma once

#include <string>

namespace platform {

enum class PortZero { Refused, Allowed };

// The port as written; false when it breaks the rules above.
bool ParsePortNumber(const std::string& text, int& port, PortZero zero = PortZero::Refused);

struct Endpoint {
    std::string host;  // without brackets; empty when only a port was written
    int port = 0;
};

// Which rule a text broke, so that each caller can say it in its own words.
enum class EndpointProblem {
    None,
    Brackets,        // "[" without "]:port" after the address
    UnbracketedIPv6, // more than one colon outside brackets
    NoHost,          // a colon with nothing before it (":port", "[]:port")
    Port,            // the port breaks the rules above
};

// Fills endpoint only when the text keeps the rules (EndpointProblem::None).
EndpointProblem ParseEndpoint(const std::string& text, Endpoint& endpoint, PortZero zero = PortZero::Refused);

}  // namespace platform
