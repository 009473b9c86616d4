#include "operator/OscControl.h"

#include <cmath>
#include <cstring>

#include "platform/sockets/OscTransport.h"

namespace {

struct Command {
    const char* path;
    const char* types;
    ControlRequest::Kind kind;
    double low;   // limits of the one float argument, when there is one
    double high;
};

const Command kCommands[] = {
    {"/solvane/threshold", "f", ControlRequest::Kind::SetThreshold, kThresholdMinDbfs, kThresholdMaxDbfs},
    {"/solvane/gain", "f", ControlRequest::Kind::SetGain, kGainMinDb, kGainMaxDb},
    {"/solvane/rotate", "f", ControlRequest::Kind::Turn, -1.0, 1.0},
    {"/solvane/flash", "", ControlRequest::Kind::Flash, 0, 0},
    {"/solvane/quit", "", ControlRequest::Kind::Close, 0, 0},
};

void Ignore(OscControlResult& result, OscRefusal refusal, const std::string& path)
{
    ++result.ignored;
    if (result.firstRefusal != OscRefusal::None) return;
    result.firstRefusal = refusal;
    result.firstRefusedPath = path;
}

// Many desks send whole numbers as integers: an 'i' is taken wherever an
// 'f' is.
bool TypesMatch(const std::string& sent, const char* wanted)
{
    if (sent.size() != std::strlen(wanted)) return false;
    for (std::size_t k = 0; k < sent.size(); ++k)
        if (sent[k] != wanted[k] && !(wanted[k] == 'f' && sent[k] == 'i')) return false;
    return true;
}

double NumberOf(const platform::OscArgument& argument)
{
    return argument.type == 'i' ? static_cast<double>(argument.i) : static_cast<double>(argument.f);
}

void Decode(const platform::OscMessage& message, OscControlResult& result)
{
    for (const Command& command : kCommands) {
        if (message.path != command.path) continue;
        if (!TypesMatch(message.types, command.types)) {
            Ignore(result, OscRefusal::WrongTypes, message.path);
            return;
        }
        ControlRequest request;
        request.kind = command.kind;
        if (!message.arguments.empty()) {
            const double value = NumberOf(message.arguments[0]);
            if (!std::isfinite(value) || value < command.low || value > command.high) {
                Ignore(result, OscRefusal::OutOfRange, message.path);
                return;
            }
            request.value = value;
        }
        result.requests.push_back(request);
        return;
    }
    Ignore(result, OscRefusal::UnknownAddress, message.path);
}

}  // namespace

const char* RefusalText(OscRefusal refusal)
{
    switch (refusal) {
    case OscRefusal::None: return "accepted";
    case OscRefusal::Oversize: return "datagram too long";
    case OscRefusal::Malformed: return "not a readable OSC message";
    case OscRefusal::UnknownAddress: return "unknown address";
    case OscRefusal::WrongTypes: return "wrong argument types";
    case OscRefusal::OutOfRange: return "value out of range";
    }
    return "ignored";
}

OscControlResult DecodeOscControl(const void* data, std::size_t size)
{
    OscControlResult result;
    const platform::OscPacket packet = platform::ParseOscPacket(data, size);
    // Refusals of the transport come first in the count: they are the
    // datagram itself, or bundle elements that could not be read.
    if (packet.refused > 0) {
        result.ignored = packet.refused;
        result.firstRefusal =
            packet.firstError == platform::OscParseError::Oversize ? OscRefusal::Oversize : OscRefusal::Malformed;
    }
    for (const platform::OscMessage& message : packet.messages) Decode(message, result);
    return result;
}
