#include "app/RemoteView.h"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

#include "app/HealthJson.h"
#include "app/RemotePage.h"
#include "common/Level.h"
#include "common/Log.h"
#include "platform/system/System.h"

namespace {

// Slow or idle clients give their worker back after these.
constexpr time_t kReadTimeoutSeconds = 3;
constexpr time_t kWriteTimeoutSeconds = 3;
// NOTE: one request per connection. The library gives a connection its
// worker for as long as it stays open, so with kept-alive connections a few
// browsers (six connections each) would hold every worker and starve the rest.
constexpr std::size_t kRequestsPerConnection = 1;
// A flood of bad or refused requests is told once a minute, not once a request.
constexpr auto kFailureLogInterval = std::chrono::seconds(60);

// A fixed set of workers with a bounded queue. When the queue is full the
// listener waits here instead of accepting more connections.
class BoundedPool final : public httplib::TaskQueue {
public:
    BoundedPool(std::size_t workers, std::size_t limit) : limit_(limit)
    {
        for (std::size_t i = 0; i < workers; ++i) threads_.emplace_back([this] { Work(); });
    }

    void enqueue(std::function<void()> job) override
    {
        std::unique_lock<std::mutex> lock(mutex_);
        roomy_.wait(lock, [this] { return jobs_.size() < limit_; });
        jobs_.push_back(std::move(job));
        ready_.notify_one();
    }

    void shutdown() override
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        ready_.notify_all();
        for (std::thread& thread : threads_) thread.join();
        threads_.clear();
    }

private:
    void Work()
    {
        platform::IgnoreBrokenPipesOnThisThread();
        platform::LowerThisThreadPriority();
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                ready_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
                if (jobs_.empty()) return;
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
            roomy_.notify_one();
            job();
        }
    }

    const std::size_t limit_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::condition_variable roomy_;
    std::deque<std::function<void()>> jobs_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

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

// Compares in time that does not depend on where the first difference is.
bool SameSecret(const std::string& given, const std::string& expected)
{
    unsigned char difference = given.size() == expected.size() ? 0 : 1;
    for (std::size_t i = 0; i < given.size(); ++i)
        difference |= static_cast<unsigned char>(given[i] ^ expected[i % expected.size()]);
    return difference == 0;
}

std::string Dump(const nlohmann::json& document)
{
    // Device names and paths may not be UTF-8; replace rather than throw.
    return document.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
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

class RemoteView::Server {
public:
    Server(HealthBoard& board, ControlQueue& controls, FrameSnapshot& frame) :
        board_(board), controls_(controls), frame_(frame)
    {
    }

    void Configure(const std::string& token)
    {
        token_ = token;
        page_ = RemotePage(!token_.empty());
        http.new_task_queue = [] { return new BoundedPool(kWorkers, kQueuedConnections); };
        http.set_read_timeout(kReadTimeoutSeconds, 0);
        http.set_write_timeout(kWriteTimeoutSeconds, 0);
        http.set_keep_alive_max_count(kRequestsPerConnection);
        http.set_payload_max_length(kMaxBodyBytes);
        // NOTE: the library's own choice lets a second program bind the
        // same port and take half the clients; an address in use must fail.
        http.set_socket_options([](socket_t socket) { platform::SetExclusiveListenOptions(socket); });
        http.set_default_headers({{"Cache-Control", "no-store"},
                                  {"X-Content-Type-Options", "nosniff"},
                                  {"X-Frame-Options", "DENY"}});
        // NOTE: the error handler runs before the answer is written (the
        // logger after), so a client that reads the counters next sees its
        // own request counted.
        http.set_error_handler(httplib::Server::HandlerWithResponse(
            [this](const httplib::Request& request, httplib::Response& response) {
                CountFailure(request, response);
                return httplib::Server::HandlerResponse::Unhandled;
            }));
        http.set_pre_routing_handler([this](const httplib::Request&, httplib::Response&) {
            ++requests_;
            return httplib::Server::HandlerResponse::Unhandled;
        });
        http.set_exception_handler([](const httplib::Request&, httplib::Response& response, std::exception_ptr) {
            response.status = 500;
            response.set_content("internal error\n", "text/plain");
        });

        http.Get("/", [this](const httplib::Request&, httplib::Response& response) {
            response.set_content(page_, "text/html; charset=utf-8");
        });
        http.Get("/status.json", [this](const httplib::Request&, httplib::Response& response) {
            nlohmann::json document = ToJson(board_.Latest());
            RemoteViewCounters counters = Counters();
            document["web"] = {{"requests", counters.requests},
                               {"malformed", counters.malformed},
                               {"refused", counters.refused},
                               {"controls", !token_.empty()}};
            response.set_content(Dump(document), "application/json");
        });
        http.Get("/frame.png", [this](const httplib::Request&, httplib::Response& response) {
            std::uint64_t serial = 0;
            std::shared_ptr<const std::string> png = frame_.Png(&serial);
            if (!png) {
                response.status = 503;
                response.set_header("Retry-After", "1");
                response.set_content("no frame yet\n", "text/plain");
                return;
            }
            response.set_header("X-Frame-Serial", std::to_string(serial));
            response.set_content(*png, "image/png");
        });
        http.Get("/log", [](const httplib::Request&, httplib::Response& response) {
            std::string text;
            for (const std::string& line : RecentLogLines(200)) text += line + "\n";
            response.set_content(text, "text/plain; charset=utf-8");
        });
        http.Post("/control", [this](const httplib::Request& request, httplib::Response& response) {
            Control(request, response);
        });
    }

    RemoteViewCounters Counters() const
    {
        return RemoteViewCounters{requests_.load(), malformed_.load(), refused_.load()};
    }

    httplib::Server http;

private:
    static void Answer(httplib::Response& response, int status, const std::string& message)
    {
        response.status = status;
        response.set_content(Dump({{"accepted", status == 202}, {"message", message}}), "application/json");
    }

    void Control(const httplib::Request& request, httplib::Response& response)
    {
        const std::string prefix = "Bearer ";
        std::string given = request.get_header_value("Authorization");
        if (token_.empty() || given.compare(0, prefix.size(), prefix) != 0 ||
            !SameSecret(given.substr(prefix.size()), token_)) {
            Answer(response, 403, token_.empty() ? "this view is read-only" : "wrong or missing token");
            return;
        }
        nlohmann::json body = nlohmann::json::parse(request.body, nullptr, false);
        if (body.is_discarded() || !body.is_object() || !body.contains("action") || !body["action"].is_string()) {
            Answer(response, 400, "expected {\"action\": ..., \"value\": ...}");
            return;
        }
        const std::string action = body["action"].get<std::string>();
        const nlohmann::json* value = body.contains("value") ? &body["value"] : nullptr;
        auto number = [&](double low, double high, double& out) {
            if (value == nullptr || !value->is_number()) return false;
            out = value->get<double>();
            return out >= low && out <= high;
        };
        ControlRequest control;
        double amount = 0;
        if (action == "threshold") {
            // The settings' limits, 1 to 32767 sample units, in dBFS.
            if (!number(level::ThresholdToDbfs(level::kMinThreshold), 0, amount)) {
                Answer(response, 400, "threshold needs a value in dBFS from -90.3 to 0");
                return;
            }
            control = {ControlRequest::Kind::SetThreshold, amount};
        } else if (action == "gain") {
            if (!number(level::kMinGainDb, level::kMaxGainDb, amount)) {
                Answer(response, 400, "gain needs a value in dB from -40 to 40");
                return;
            }
            control = {ControlRequest::Kind::SetGain, amount};
        } else if (action == "overlay") {
            if (value == nullptr || !value->is_boolean()) {
                Answer(response, 400, "overlay needs true or false");
                return;
            }
            control = {ControlRequest::Kind::ShowPanel, value->get<bool>() ? 1.0 : 0.0};
        } else if (action == "close") {
            control = {ControlRequest::Kind::Close, 0};
        } else {
            Answer(response, 400, "unknown action");
            return;
        }
        if (!controls_.Post(control)) {
            Answer(response, 503, "too many requests waiting; try again");
            return;
        }
        LogLine("web", "control from %s: %s", request.remote_addr.c_str(), body.dump(-1, ' ', false,
                nlohmann::json::error_handler_t::replace).c_str());
        Answer(response, 202, "queued for the next step");
    }

    void CountFailure(const httplib::Request& request, const httplib::Response& response)
    {
        bool malformed = response.status == 400 || response.status == 413 || response.status == 414 ||
                         response.status == 431;
        if (response.status == 403) {
            Tell(refusedLog_, ++refused_, "control request without the right token", request, response);
        } else if (malformed) {
            Tell(malformedLog_, ++malformed_, "malformed request", request, response);
        }
    }

    // The first of a kind, then at most one line a minute.
    void Tell(std::chrono::steady_clock::time_point& last, std::uint64_t count, const char* what,
              const httplib::Request& request, const httplib::Response& response)
    {
        std::lock_guard<std::mutex> lock(logMutex_);
        auto now = std::chrono::steady_clock::now();
        if (count != 1 && now - last < kFailureLogInterval) return;
        last = now;
        // NOTE: the library fills in the address only for requests it could parse.
        const char* from = request.remote_addr.empty() ? "a client" : request.remote_addr.c_str();
        LogWarning("web", "%s from %s answered %d (%llu so far)", what, from, response.status,
                   static_cast<unsigned long long>(count));
    }

    HealthBoard& board_;
    ControlQueue& controls_;
    FrameSnapshot& frame_;
    std::string token_;
    std::string page_;
    std::atomic<std::uint64_t> requests_{0};
    std::atomic<std::uint64_t> malformed_{0};
    std::atomic<std::uint64_t> refused_{0};
    std::mutex logMutex_;
    std::chrono::steady_clock::time_point malformedLog_;
    std::chrono::steady_clock::time_point refusedLog_;
};

RemoteView::RemoteView(HealthBoard& board, ControlQueue& controls, FrameSnapshot& frame) :
    server_(std::make_unique<Server>(board, controls, frame))
{
}

RemoteView::~RemoteView() { Stop(); }

bool RemoteView::Start(const std::string& listen, const std::string& token, std::string& error)
{
    if (!ParseListenAddress(listen, host_, port_, error)) return false;
    server_->Configure(token);
    if (port_ == 0) {
        port_ = server_->http.bind_to_any_port(host_);
        if (port_ < 0) port_ = 0;
    } else if (!server_->http.bind_to_port(host_, port_)) {
        port_ = 0;
    }
    if (port_ == 0) {
        error = "cannot listen on " + listen + " (address in use or not this machine's)";
        return false;
    }
    listenerDone_ = false;
    listener_ = std::thread([this] {
        platform::IgnoreBrokenPipesOnThisThread();
        platform::LowerThisThreadPriority();
        server_->http.listen_after_bind();
        listenerDone_ = true;
    });
    return true;
}

void RemoteView::Stop()
{
    if (!listener_.joinable()) return;
    // NOTE: the library ignores a stop that comes before its listener runs.
    while (!server_->http.is_running() && !listenerDone_) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    server_->http.stop();
    listener_.join();
}

RemoteViewCounters RemoteView::Counters() const { return server_->Counters(); }
