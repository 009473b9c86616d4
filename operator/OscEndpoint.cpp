#include "operator/OscEndpoint.h"

#include "platform/sockets/Endpoint.h"

bool ParseOscSendEndpoint(const std::string& text, OscEndpoint& endpoint, std::string& error)
{
    platform::Endpoint parsed;
    if (platform::ParseEndpoint(text, parsed) != platform::EndpointProblem::None || parsed.host.empty()) {
        error = "OSC send address needs host:port (port 1-65535), got \"" + text + "\"";
        return false;
    }
    endpoint.host = parsed.host;
    endpoint.port = static_cast<std::uint16_t>(parsed.port);
    return true;
}

bool ParseOscListenEndpoint(const std::string& text, OscEndpoint& endpoint, std::string& error)
{
    platform::Endpoint parsed;
    if (platform::ParseEndpoint(text, parsed) != platform::EndpointProblem::None) {
        error = "OSC listen address needs [addr:]port (port 1-65535), got \"" + text + "\"";
        return false;
    }
    endpoint.host = parsed.host.empty() ? kOscDefaultListenHost : parsed.host;
    endpoint.port = static_cast<std::uint16_t>(parsed.port);
    return true;
}
