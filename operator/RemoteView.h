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
// Every request is bounded before it is held, with or without the token: the
// request line and headers must fit a small memory pool, a body a kilobyte
// however it is framed, a request must finish within a few seconds and a
// connection within a minute, and one address holds a few connections. Only
// requests naming this server (its address, "localhost" on loopback, this
// machine's host name, or a name the operator allowed) are answered, so a
// page under another name that resolves here reads nothing. An address that
// keeps sending wrong tokens is made to wait.
//
// Threads: Start and Stop are called by the step loop's thread. The server
// runs one thread that polls every connection and answers each request at
// once. It reads copies of the health snapshot, the frame snapshot and the
// log ring, and posts control requests to the queue that the step loop drains
// between steps; it never touches the scene, the device or the world.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/NonCopyable.h"
#include "operator/ControlQueue.h"
#include "operator/FrameSnapshot.h"
#include "operator/Health.h"
#include "operator/RemoteRequests.h"

struct RemoteViewCounters {
    std::uint64_t requests = 0;   // well-formed requests
    std::uint64_t malformed = 0;  // answered 400, 413, 414 or 431, or cut off for a body too large
    std::uint64_t refused = 0;    // without the right token, too soon after wrong ones, or for another host name
};

// The bounds; tests shorten the times.
struct RemoteViewLimits {
    std::size_t connections = 64;            // in all; more are closed at once
    std::size_t connectionsPerAddress = 8;   // a browser opens six
    std::size_t connectionMemory = 16 * 1024;  // request line and headers (and the answer's headers)
    unsigned idleSeconds = 5;                // silence before a connection is closed
    std::chrono::milliseconds requestTime{10000};     // from a request's start to its answer's last byte
    std::chrono::milliseconds connectionTime{60000};  // a kept-alive connection in all
};

class RemoteView : NonCopyable {
public:
    // Bounds that keep a flood of clients from taking memory or threads:
    // workers serve connections, at most kQueuedConnections more wait for a
    // worker (then the listener stops accepting and the system's backlog
    // holds the rest).
    static constexpr std::size_t kMaxBodyBytes = 1024;

    RemoteView(HealthBoard& board, ControlQueue& controls, FrameSnapshot& frame, RemoteViewLimits limits = {});
    ~RemoteView();

    // Binds and starts serving; false with a reason when the address cannot
    // be used. An empty token means a read-only view. `hosts` are further
    // names the view answers to (a DNS name the operator gave the machine).
    bool Start(const std::string& listen, const std::string& token, std::string& error,
               const std::vector<std::string>& hosts = {});
    // Stops accepting and closes every connection, finished or not, at once.
    void Stop();

    const std::string& Host() const { return host_; }
    int Port() const { return port_; }
    RemoteViewCounters Counters() const;

private:
    class Server;
    std::unique_ptr<Server> server_;
    std::thread poller_;
    std::atomic<bool> stopping_{false};
    std::string host_;
    int port_ = 0;
};
