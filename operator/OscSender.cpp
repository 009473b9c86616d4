#include "operator/OscSender.h"

#include "common/Log.h"

OscSender::~OscSender()
{
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
    LogLine("osc", "sent %llu messages to %s (%llu dropped, %llu failed)",
            static_cast<unsigned long long>(sent_.load()), destination_.c_str(),
            static_cast<unsigned long long>(dropped_.load()), static_cast<unsigned long long>(failed_.load()));
}

bool OscSender::Start(const std::string& host, const std::string& port)
{
    if (thread_.joinable()) return true;
    if (!socket_.Open(host, port)) return false;
    destination_ = host + ":" + port;
    queue_.reserve(kQueueLimit);
    thread_ = std::thread([this] { Run(); });
    LogLine("osc", "sending to %s", destination_.c_str());
    return true;
}

void OscSender::Post(const platform::OscOutgoing* messages, std::size_t count)
{
    if (count == 0 || !thread_.joinable()) return;
    std::size_t dropped = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (std::size_t k = 0; k < count; ++k) {
            if (queue_.size() < kQueueLimit) queue_.push_back(messages[k]);
            else ++dropped;
        }
    }
    if (dropped != 0) dropped_.fetch_add(dropped);
    wake_.notify_one();
}

void OscSender::Run()
{
    std::vector<platform::OscOutgoing> taken;
    taken.reserve(kQueueLimit);
    bool failing = false;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            // NOTE: at the end what is still queued is dropped, so that a host
            // that takes seconds to fail cannot hold up the closing.
            if (stopping_) return;
            taken.swap(queue_);
        }
        for (const platform::OscOutgoing& message : taken) {
            std::string error;
            if (socket_.Send(message, error)) {
                sent_.fetch_add(1);
                if (failing) LogLine("osc", "sending to %s again", destination_.c_str());
                failing = false;
                continue;
            }
            failed_.fetch_add(1);
            // Once per outage: a desk that is switched off is not news every 50 ms.
            if (!failing) LogWarning("osc", "cannot send to %s: %s; going on without it", destination_.c_str(), error.c_str());
            failing = true;
        }
        taken.clear();
    }
}
