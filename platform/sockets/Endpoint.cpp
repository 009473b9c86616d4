#include "platform/sockets/Endpoint.h"

namespace platform {

bool ParsePortNumber(const std::string& text, int& port, PortZero zero)
{
    if (text.empty() || text.size() > 5) return false;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    if (value > 65535 || (value == 0 && zero == PortZero::Refused)) return false;
    port = value;
    return true;
}

EndpointProblem ParseEndpoint(const std::string& text, Endpoint& endpoint, PortZero zero)
{
    std::string host;
    std::string port = text;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':')
            return EndpointProblem::Brackets;
        host = text.substr(1, close - 1);
        port = text.substr(close + 2);
        if (host.empty()) return EndpointProblem::NoHost;
    } else if (const std::size_t colon = text.rfind(':'); colon != std::string::npos) {
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
        if (host.find(':') != std::string::npos) return EndpointProblem::UnbracketedIPv6;
        if (host.empty()) return EndpointProblem::NoHost;
    }
    int number = 0;
    if (!ParsePortNumber(port, number, zero)) return EndpointProblem::Port;
    endpoint.host = host;
    endpoint.port = number;
    return EndpointProblem::None;
}

}  // namespace platform
