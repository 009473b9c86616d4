#include "operator/OscService.h"

#include "operator/OscEndpoint.h"

bool OscService::Start(const std::string& sendTo, const std::string& listenOn, const std::string& allow,
                       ControlQueue& controls, std::string& error)
{
    if (!sendTo.empty()) {
        OscEndpoint endpoint;
        if (!ParseOscSendEndpoint(sendTo, endpoint, error)) return false;
        auto sender = std::make_unique<OscSender>();
        if (!sender->Start(endpoint.host, std::to_string(endpoint.port))) {
            error = "cannot send OSC to \"" + sendTo + "\"";
            return false;
        }
        sender_ = std::move(sender);
        reporter_ = std::make_unique<OscReporter>(*sender_);
    }
    if (!listenOn.empty()) {
        OscEndpoint endpoint;
        if (!ParseOscListenEndpoint(listenOn, endpoint, error)) return false;
        OscAllowList allowed;
        if (!OscAllowList::Parse(allow, allowed, error)) return false;
        auto listener = std::make_unique<OscListener>(controls, std::move(allowed));
        if (!listener->Start(endpoint.host, endpoint.port, error)) return false;
        listener_ = std::move(listener);
    }
    return true;
}
