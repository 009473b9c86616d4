#include "operator/OscListener.h"

#include "common/Log.h"
#include "operator/OscControl.h"

namespace {

// How long a receive waits before looking at the stop flag: the most a
// closing installation waits for this thread.
constexpr int kReceiveWaitMs = 50;

}  // namespace

OscListener::~OscListener()
{
    if (!thread_.joinable()) return;
    stopping_ = true;
    thread_.join();
    LogLine("osc", "heard %llu commands on %s, ignored %llu messages",
            static_cast<unsigned long long>(accepted_.load()), bound_.c_str(),
            static_cast<unsigned long long>(ignored_.load()));
}

bool OscListener::Start(const std::string& host, std::uint16_t port, std::string& error)
{
    if (thread_.joinable()) return true;
    if (!socket_.Open(host, port, error)) return false;
    bound_ = host + ":" + std::to_string(socket_.Port());
    thread_ = std::thread([this] { Run(); });
    LogLine("osc", "listening on %s, %s", bound_.c_str(),
            allowed_.TakesEveryone() ? "from every sender" : ("from " + allowed_.Text() + " only").c_str());
    return true;
}

void OscListener::Run()
{
    // One byte more than a datagram may have, so that a longer one is seen
    // as longer whatever the system reports.
    static constexpr std::size_t kCapacity = platform::kOscMaxPacketBytes + 1;
    alignas(4) unsigned char buffer[kCapacity];
    bool failing = false;
    while (!stopping_) {
        platform::OscSource from;
        const long length = socket_.Receive(buffer, kCapacity, kReceiveWaitMs, &from);
        if (length == platform::OscReceiveSocket::kNothing) continue;
        if (length == platform::OscReceiveSocket::kFailed) {
            if (!failing) LogWarning("osc", "receiving on %s failed; trying on", bound_.c_str());
            failing = true;
            continue;
        }
        failing = false;
        // NOTE: an oversize datagram is handed on with its real length,
        // longer than the buffer; the decoder refuses it on its length alone.
        Handle(buffer, static_cast<std::size_t>(length), from);
    }
}

void OscListener::Handle(const void* data, std::size_t size, const platform::OscSource& from)
{
    const std::string sender = from.Text();
    if (!allowed_.Allows(from.address)) {
        ignored_.fetch_add(1);
        LogPaced(LogLevel::Warning, "osc", "osc stranger", "ignored a datagram from %s: not in the allow-list",
                 sender.c_str());
        return;
    }
    OscControlResult result = DecodeOscControl(data, size);
    for (ControlRequest& request : result.requests) {
        request.source = "by OSC from " + sender;
        if (queue_.Post(request)) {
            accepted_.fetch_add(1);
        } else {
            ignored_.fetch_add(1);
            LogPaced(LogLevel::Warning, "osc", "osc queue full", "control queue full; a command from %s was dropped",
                     sender.c_str());
        }
    }
    if (result.ignored == 0) return;
    ignored_.fetch_add(result.ignored);
    const char* path = result.firstRefusedPath.empty() ? "a datagram" : result.firstRefusedPath.c_str();
    LogPaced(LogLevel::Warning, "osc", "osc ignored", "ignored %s: %s, from %s", path,
             RefusalText(result.firstRefusal), sender.c_str());
}
