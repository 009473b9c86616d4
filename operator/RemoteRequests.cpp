#include "operator/RemoteRequests.h"

#include <nlohmann/json.hpp>

#include "common/Level.h"
#include "platform/sockets/Endpoint.h"

bool ParseListenAddress(const std::string& text, std::string& host, int& port, std::string& error)
{
    platform::Endpoint endpoint;
    switch (platform::ParseEndpoint(text, endpoint, platform::PortZero::Allowed)) {
    case platform::EndpointProblem::None: break;
    case platform::EndpointProblem::Brackets:
    case platform::EndpointProblem::NoHost: error = "\"" + text + "\" is not [ADDRESS]:PORT"; return false;
    case platform::EndpointProblem::UnbracketedIPv6:
        error = "\"" + text + "\": write an IPv6 address in brackets, [ADDRESS]:PORT";
        return false;
    case platform::EndpointProblem::Port: error = "\"" + text + "\" has no valid port (0 to 65535)"; return false;
    }
    // Only the operator's own machine can reach the view unless they name
    // another address: the page shows the room and, with a token, steers it.
    host = endpoint.host.empty() ? "127.0.0.1" : endpoint.host;
    port = endpoint.port;
    return true;
}

ControlAnswer ReadControlBody(const std::string& text)
{
    ControlAnswer answer;
    nlohmann::json body = nlohmann::json::parse(text, nullptr, false);
    if (body.is_discarded() || !body.is_object() || !body.contains("action") || !body["action"].is_string()) {
        answer.message = "expected {\"action\": ..., \"value\": ...}";
        return answer;
    }
    const std::string action = body["action"].get<std::string>();
    const nlohmann::json* value = body.contains("value") ? &body["value"] : nullptr;
    auto number = [&](double low, double high, double& out) {
        if (value == nullptr || !value->is_number()) return false;
        out = value->get<double>();
        return out >= low && out <= high;
    };
    double amount = 0;
    if (action == "threshold") {
        // The settings' limits, 1 to 32767 sample units, in dBFS.
        if (!number(level::ThresholdToDbfs(level::kMinThreshold), 0, amount)) {
            answer.message = "threshold needs a value in dBFS from -90.3 to 0";
            return answer;
        }
        answer.request = {ControlRequest::Kind::SetThreshold, amount};
    } else if (action == "gain") {
        if (!number(level::kMinGainDb, level::kMaxGainDb, amount)) {
            answer.message = "gain needs a value in dB from -40 to 40";
            return answer;
        }
        answer.request = {ControlRequest::Kind::SetGain, amount};
    } else if (action == "overlay") {
        if (value == nullptr || !value->is_boolean()) {
            answer.message = "overlay needs true or false";
            return answer;
        }
        answer.request = {ControlRequest::Kind::ShowPanel, value->get<bool>() ? 1.0 : 0.0};
    } else if (action == "close") {
        answer.request = {ControlRequest::Kind::Close, 0};
    } else {
        answer.message = "unknown action";
        return answer;
    }
    answer.status = 202;
    answer.message = "queued for the next step";
    return answer;
}
