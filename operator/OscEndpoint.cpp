#include "operator/OscEndpoint.h"

namespace {

bool ParsePort(const std::string& text, std::uint16_t& port)
{
    if (text.empty() || text.size() > 5) return false;
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0 || value > 65535) return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

}  // namespace

bool ParseOscSendEndpoint(const std::string& text, OscEndpoint& endpoint, std::string& error)
{
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || !ParsePort(text.substr(colon + 1), endpoint.port)) {
        error = "OSC send address needs host:port (port 1-65535), got \"" + text + "\"";
        return false;
    }
    endpoint.host = text.substr(0, colon);
    return true;
}

bool ParseOscListenEndpoint(const std::string& text, OscEndpoint& endpoint, std::string& error)
{
    const std::size_t colon = text.rfind(':');
    const std::string port = colon == std::string::npos ? text : text.substr(colon + 1);
    if ((colon != std::string::npos && colon == 0) || !ParsePort(port, endpoint.port)) {
        error = "OSC listen address needs [addr:]port (port 1-65535), got \"" + text + "\"";
        return false;
    }
    endpoint.host = colon == std::string::npos ? kOscDefaultListenHost : text.substr(0, colon);
    return true;
}
