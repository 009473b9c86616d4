// Sends the installation's OSC messages to one host and port from a thread
// of its own, so that a step never waits on the network: the step loop puts
// messages on a small bounded queue and goes on. A full queue drops the new
// messages (counted); an unknown or unreachable host is logged once and
// retried with every message, never an error of the installation.
//
// Threads: Post is called by the step loop; the sending thread is the only
// one that touches the socket. Start and the destructor belong to the
// thread that owns the sender (the step loop).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/NonCopyable.h"
#include "platform/sockets/OscTransport.h"

// Where the messages of one step go: the sender, or a test's recorder.
class OscSink {
public:
    virtual ~OscSink() = default;
    virtual void Post(const platform::OscOutgoing* messages, std::size_t count) = 0;
};

class OscSender : public OscSink, NonCopyable {
public:
    static constexpr std::size_t kQueueLimit = 256;

    OscSender() = default;
    ~OscSender() override;  // stops the thread; what is still queued is dropped

    // Starts the sending thread towards host:port; false when liblo cannot
    // even name that destination.
    bool Start(const std::string& host, const std::string& port);

    // Queues the messages; never waits for the network. Without Start it
    // does nothing.
    void Post(const platform::OscOutgoing* messages, std::size_t count) override;

    std::uint64_t Sent() const { return sent_.load(); }
    std::uint64_t Dropped() const { return dropped_.load(); }
    std::uint64_t Failed() const { return failed_.load(); }

private:
    void Run();

    std::string destination_;  // host:port, for log lines
    platform::OscSendSocket socket_;  // the sending thread's only
    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<platform::OscOutgoing> queue_;  // guarded by mutex_
    bool stopping_ = false;                      // guarded by mutex_
    std::thread thread_;
    std::atomic<std::uint64_t> sent_{0};
    std::atomic<std::uint64_t> dropped_{0};
    std::atomic<std::uint64_t> failed_{0};
};
