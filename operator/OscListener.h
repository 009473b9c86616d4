// Hears OSC from show-control systems on one UDP port and turns each
// command into a control request (see OscControl.h for the addresses).
// Off unless asked for; given only a port it binds to loopback, so that
// another machine can steer the installation only when the operator names
// an address to listen on. Senders outside the allow-list are ignored.
// Each request carries its sender, so the step loop logs who asked; ignored
// messages are logged paced (common/Log.h), so a flood is a few lines a
// second and never silence.
//
// Threads: the listening thread receives, decodes and posts to the
// ControlQueue; the step loop applies the requests between steps. Start and
// the destructor belong to the owner's thread (the step loop). The counts
// may be read from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "common/NonCopyable.h"
#include "operator/ControlQueue.h"
#include "operator/OscAllowList.h"
#include "platform/sockets/OscTransport.h"

class OscListener : NonCopyable {
public:
    explicit OscListener(ControlQueue& queue, OscAllowList allowed = {})
        : queue_(queue), allowed_(std::move(allowed))
    {
    }
    ~OscListener();  // stops the thread within one receive wait

    // Binds host:port (port 0: the system chooses, see Port()) and starts
    // listening; false with the reason in `error`.
    bool Start(const std::string& host, std::uint16_t port, std::string& error);
    std::uint16_t Port() const { return socket_.Port(); }

    std::uint64_t Accepted() const { return accepted_.load(); }
    std::uint64_t Ignored() const { return ignored_.load(); }

private:
    void Run();
    void Handle(const void* data, std::size_t size, const platform::OscSource& from);

    ControlQueue& queue_;
    const OscAllowList allowed_;
    platform::OscReceiveSocket socket_;  // the listening thread's, once started
    std::string bound_;                  // host:port, for log lines
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    std::atomic<std::uint64_t> accepted_{0};
    std::atomic<std::uint64_t> ignored_{0};
};
