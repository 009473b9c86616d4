#include "operator/RemoteRequests.h"

#include <nlohmann/json.hpp>

#include "common/Level.h"

namespace {

bool ParsePort(const std::string& text, int& port)
{
    if (text.empty() || text.size() > 5) return false;
    port = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        port = port * 10 + (c - '0');
    }
    return port <= 65535;
}

}  // namespace

bool ParseListenAddress(const std::string& text, std::string& host, int& port, std::string& error)
{
    std::string hostPart;
    std::string portPart = text;
    if (!text.empty() && text.front() == '[') {
        std::size_t close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') {
            error = "\"" + text + "\" is not [ADDRESS]:PORT";
            return false;
        }
        hostPart = text.substr(1, close - 1);
        portPart = text.substr(close + 2);
    } else if (std::size_t colon = text.rfind(':'); colon != std::string::npos) {
        hostPart = text.substr(0, colon);
        portPart = text.substr(colon + 1);
        if (hostPart.find(':') != std::string::npos) {
            error = "\"" + text + "\": write an IPv6 address in brackets, [ADDRESS]:PORT";
            return false;
        }
    }
    if (!ParsePort(portPart, port)) {
        error = "\"" + text + "\" has no valid port (0 to 65535)";
        return false;
    }
    // Only the operator's own machine can reach the view unless they name
    // another address: the page shows the room and, with a token, steers it.
    host = hostPart.empty() ? "127.0.0.1" : hostPart;
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
