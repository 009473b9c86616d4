// The web view: a small HTTP server that shows the operator, from a phone or
// a laptop, what the installation shows and whether it is healthy.
//   GET  /             one self-contained HTML page (no external files)
//   GET  /status.json  the health snapshot as the status document
//   GET  /frame.png    the last presented frame, at most 640x480
//   GET  /log          the last 200 log lines as plain text
//   POST /control      {"action": "threshold"|"gain"|"overlay"|"close", "value": ...}
//                      only with a token configured and carried as
//                      "Authorization: Bearer TOKEN"; 403 otherwise
// Off unless an address is given; "PORT" alone listens on loopback.
//
// Threads: Start and Stop are called by the step loop's thread. The server
// runs a listener thread and a fixed pool of workers. They read copies of
// the health snapshot, the frame snapshot and the log ring, and post control
// requests to the queue that the step loop drains between steps; they never
// touch the scene, the device or the world.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "app/ControlQueue.h"
#include "app/FrameSnapshot.h"
#include "app/Health.h"

// "ADDR:PORT", "[IPv6]:PORT" or "PORT" (loopback). Port 0 picks a free port.
bool ParseListenAddress(const std::string& text, std::string& host, int& port, std::string& error);

struct RemoteViewCounters {
    std::uint64_t requests = 0;   // well-formed requests
    std::uint64_t malformed = 0;  // answered 400, 413, 414 or 431
    std::uint64_t refused = 0;    // control requests without the right token
};

class RemoteView {
public:
    // Bounds that keep a flood of clients from taking memory or threads:
    // workers serve connections, at most kQueuedConnections more wait for a
    // worker (then the listener stops accepting and the system's backlog
    // holds the rest).
    static constexpr std::size_t kWorkers = 6;
    static constexpr std::size_t kQueuedConnections = 16;
    static constexpr std::size_t kMaxBodyBytes = 1024;

    RemoteView(HealthBoard& board, ControlQueue& controls, FrameSnapshot& frame);
    ~RemoteView();
    RemoteView(const RemoteView&) = delete;
    RemoteView& operator=(const RemoteView&) = delete;

    // Binds and starts serving; false with a reason when the address cannot
    // be used. An empty token means a read-only view.
    bool Start(const std::string& listen, const std::string& token, std::string& error);
    // Stops accepting, finishes the requests in progress, joins the threads.
    void Stop();

    const std::string& Host() const { return host_; }
    int Port() const { return port_; }
    RemoteViewCounters Counters() const;

private:
    class Server;
    std::unique_ptr<Server> server_;
    std::thread listener_;
    std::atomic<bool> listenerDone_{false};
    std::string host_;
    int port_ = 0;
};
