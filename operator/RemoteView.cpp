#include "operator/RemoteView.h"

#include <microhttpd.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/Level.h"
#include "common/Log.h"
#include "operator/Health.h"
#include "operator/RemoteAccess.h"
#include "operator/RemotePage.h"
#include "platform/system/System.h"

namespace {

// A flood of bad or refused requests is told once a minute, not once a request.
constexpr auto kFailureLogInterval = std::chrono::seconds(60);
// How often the server looks at the clock when no client speaks, and so how
// late a deadline or a stop may be.
constexpr int kPollMilliseconds = 50;
// Every address the view serves is a few bytes long.
constexpr std::size_t kMaxPathBytes = 2048;

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

namespace {

using Clock = std::chrono::steady_clock;

// One answer, before it is handed to the library.
struct Reply {
    int status = 200;
    std::string type = "text/plain; charset=utf-8";
    std::shared_ptr<const std::string> body;
    const std::string* fixedBody = nullptr;  // lives as long as the server
    std::vector<std::pair<std::string, std::string>> headers;

    void Text(int code, const std::string& text, const std::string& contentType = "text/plain; charset=utf-8")
    {
        status = code;
        type = contentType;
        body = std::make_shared<const std::string>(text);
    }
};

// What is known of a request between the library's calls for it.
struct Request {
    std::string address;  // the client's, numeric
    std::string authorization;
    std::string body;
};

std::string NumericAddress(const sockaddr* address, socklen_t length)
{
    char text[NI_MAXHOST] = {};
    if (address == nullptr ||
        getnameinfo(address, length, text, sizeof text, nullptr, 0, NI_NUMERICHOST) != 0)
        return "";
    return text;
}

std::string PeerAddress(MHD_Connection* connection)
{
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (info == nullptr || info->client_addr == nullptr) return "";
    const socklen_t length = info->client_addr->sa_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    return NumericAddress(info->client_addr, length);
}

// The address the client reached us on: what a Host header may name.
std::string LocalAddress(MHD_Connection* connection)
{
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    if (info == nullptr) return "";
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    if (getsockname(info->connect_fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) return "";
    return NumericAddress(reinterpret_cast<sockaddr*>(&local), length);
}

// This machine's own name (and its mDNS form), which a phone on the LAN may use.
std::vector<std::string> OwnNames()
{
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return {};
    std::string host = name;
    return {host, host + ".local"};
}

}  // namespace

class RemoteView::Server {
public:
    Server(HealthBoard& board, ControlQueue& controls, FrameSnapshot& frame, RemoteViewLimits limits) :
        board_(board), controls_(controls), frame_(frame), limits_(limits)
    {
    }

    ~Server() { Close(); }

    bool Open(const std::string& host, int& port, const std::string& token, const std::vector<std::string>& hosts)
    {
        token_ = token;
        page_ = RemotePage(!token_.empty());
        hosts_ = OwnNames();
        hosts_.insert(hosts_.end(), hosts.begin(), hosts.end());

        addrinfo hints{};
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
        addrinfo* found = nullptr;
        const std::string service = std::to_string(port);
        if (getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0 || found == nullptr) return false;
        sockaddr_storage address{};
        std::memcpy(&address, found->ai_addr, std::min<std::size_t>(found->ai_addrlen, sizeof address));
        const bool v6 = found->ai_family == AF_INET6;
        freeaddrinfo(found);

        // NOTE: the library's own event loop is driven from our thread
        // (MHD_run_wait), so every callback below runs on that one thread and
        // the deadlines can close connections between two of its passes.
        unsigned int flags = MHD_USE_ERROR_LOG | MHD_USE_EPOLL | (v6 ? MHD_USE_DUAL_STACK : 0);
        daemon_ = MHD_start_daemon(
            flags, static_cast<std::uint16_t>(port), nullptr, nullptr, &Server::OnRequest, this,
            // The logger must come first to catch the library's messages about the options too.
            MHD_OPTION_EXTERNAL_LOGGER, &Server::OnLibraryMessage, this,
            MHD_OPTION_SOCK_ADDR, reinterpret_cast<sockaddr*>(&address),
            MHD_OPTION_CONNECTION_LIMIT, static_cast<unsigned int>(limits_.connections),
            MHD_OPTION_PER_IP_CONNECTION_LIMIT, static_cast<unsigned int>(limits_.connectionsPerAddress),
            MHD_OPTION_CONNECTION_MEMORY_LIMIT, limits_.connectionMemory,
            MHD_OPTION_CONNECTION_TIMEOUT, limits_.idleSeconds,
            MHD_OPTION_NOTIFY_CONNECTION, &Server::OnConnection, this,
            MHD_OPTION_NOTIFY_COMPLETED, &Server::OnCompleted, this,
            // An address in use must fail rather than split the clients with another program.
            MHD_OPTION_LISTENING_ADDRESS_REUSE, 0u,
            MHD_OPTION_END);
        if (daemon_ == nullptr) return false;
        const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
        if (info != nullptr) port = info->port;
        return true;
    }

    // One pass of the library's loop, then the deadlines. Poller thread.
    void Poll()
    {
        MHD_run_wait(daemon_, kPollMilliseconds);
        const Clock::time_point now = Clock::now();
        for (auto& [connection, state] : connections_) {
            if (state.cut) continue;
            // A connection past its time is told to close with its next
            // answer (see Send); one that sends no request by then is cut.
            if (now - state.requestStart > limits_.requestTime ||
                now - state.opened > limits_.connectionTime + limits_.requestTime) {
                // NOTE: shutdown, not close: the library still owns the
                // descriptor; it sees the end of the stream on its next pass
                // and closes the connection itself.
                shutdown(state.fd, SHUT_RDWR);
                state.cut = true;
            }
        }
    }

    // Closes every connection at once, answered or not.
    void Close()
    {
        if (daemon_ == nullptr) return;
        MHD_stop_daemon(daemon_);
        daemon_ = nullptr;
    }

    RemoteViewCounters Counters() const
    {
        return RemoteViewCounters{requests_.load(), malformed_.load(), refused_.load()};
    }

private:
    struct Connection {
        Clock::time_point opened;
        Clock::time_point requestStart;
        int fd = -1;
        bool cut = false;
    };

    static void OnConnection(void* self, MHD_Connection* connection, void**, MHD_ConnectionNotificationCode code)
    {
        auto& connections = static_cast<Server*>(self)->connections_;
        if (code == MHD_CONNECTION_NOTIFY_CLOSED) {
            connections.erase(connection);
            return;
        }
        const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
        Connection state;
        state.opened = state.requestStart = Clock::now();
        state.fd = info != nullptr ? info->connect_fd : -1;
        connections[connection] = state;
    }

    // A request is answered and sent (or given up): the next one on the
    // connection gets its own time.
    static void OnCompleted(void* self, MHD_Connection* connection, void** context, MHD_RequestTerminationCode)
    {
        delete static_cast<Request*>(*context);
        *context = nullptr;
        auto& connections = static_cast<Server*>(self)->connections_;
        if (auto found = connections.find(connection); found != connections.end())
            found->second.requestStart = Clock::now();
    }

    // The library answers broken requests itself (bad request line, headers
    // too large, URL too long) and says so only here. NOTE: the status is
    // read from the wording of its message ("HTTP response code is N");
    // should a later version change it, those requests go uncounted.
    static void OnLibraryMessage(void* self, const char* format, va_list arguments)
    {
        char text[512];
        std::vsnprintf(text, sizeof text, format, arguments);
        const char* code = std::strstr(text, "HTTP response code is ");
        if (code != nullptr) {
            int status = std::atoi(code + std::strlen("HTTP response code is "));
            static_cast<Server*>(self)->CountFailure(status, "");
            return;
        }
        // Stop the text at the first line end: the message is the library's own.
        text[std::strcspn(text, "\r\n")] = '\0';
        LogAt(LogLevel::Debug, "web", "server: %s", text);
    }

    static MHD_Result OnRequest(void* self, MHD_Connection* connection, const char* url, const char* method,
                                const char*, const char* data, std::size_t* size, void** context)
    {
        return static_cast<Server*>(self)->Serve(connection, url, method, data, size, context);
    }

    MHD_Result Serve(MHD_Connection* connection, const char* url, const char* method, const char* data,
                     std::size_t* size, void** context)
    {
        auto* request = static_cast<Request*>(*context);
        if (request == nullptr) {
            // Headers are in; nothing of the body yet.
            request = new Request;
            *context = request;
            request->address = PeerAddress(connection);
            const char* authorization =
                MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_AUTHORIZATION);
            if (authorization != nullptr) request->authorization = authorization;
            const char* host = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_HOST);
            if (!IsAllowedHost(host != nullptr ? host : "", LocalAddress(connection), hosts_)) {
                Reply reply;
                reply.Text(421, "this view does not answer to that host name; add it to [remote] hosts\n");
                return Send(connection, *request, reply);
            }
            if (std::strlen(url) > kMaxPathBytes) {
                Reply reply;
                reply.Text(414, "address too long\n");
                return Send(connection, *request, reply);
            }
            const char* length =
                MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
            if (length != nullptr && std::strtoull(length, nullptr, 10) > kMaxBodyBytes) {
                Reply reply;
                reply.Text(413, "request body too large\n");
                return Send(connection, *request, reply);
            }
            return MHD_YES;
        }
        if (*size != 0) {
            if (request->body.size() + *size > kMaxBodyBytes) {
                // A chunked body grew past the limit. NOTE: the library
                // cannot answer while a body is still coming in, so the
                // connection is closed without one.
                CountFailure(413, request->address);
                return MHD_NO;
            }
            request->body.append(data, *size);
            *size = 0;
            return MHD_YES;
        }
        ++requests_;
        Reply reply = Route(method, url, *request);
        return Send(connection, *request, reply);
    }

    Reply Route(const std::string& method, const std::string& path, const Request& request)
    {
        Reply reply;
        const bool get = method == "GET" || method == "HEAD";
        if (path == "/" && get) {
            reply.type = "text/html; charset=utf-8";
            reply.fixedBody = &page_;
        } else if (path == "/status.json" && get) {
            nlohmann::json document = ToJson(board_.Latest());
            RemoteViewCounters counters = Counters();
            document["web"] = {{"requests", counters.requests},
                               {"malformed", counters.malformed},
                               {"refused", counters.refused},
                               {"controls", !token_.empty()}};
            reply.Text(200, Dump(document), "application/json");
        } else if (path == "/frame.png" && get) {
            std::uint64_t serial = 0;
            std::shared_ptr<const std::string> png = frame_.Png(&serial);
            if (!png) {
                reply.Text(503, "no frame yet\n");
                reply.headers.emplace_back("Retry-After", "1");
            } else {
                reply.type = "image/png";
                reply.body = std::move(png);
                reply.headers.emplace_back("X-Frame-Serial", std::to_string(serial));
            }
        } else if (path == "/log" && get) {
            std::string text;
            for (const std::string& line : RecentLogLines(200)) text += line + "\n";
            reply.Text(200, text);
        } else if (path == "/control" && method == "POST") {
            Control(request, reply);
        } else if (path == "/" || path == "/status.json" || path == "/frame.png" || path == "/log" ||
                   path == "/control") {
            reply.Text(405, "method not allowed\n");
        } else {
            reply.Text(404, "not found\n");
        }
        return reply;
    }

    void Control(const Request& request, Reply& reply)
    {
        auto answer = [&reply](int status, const std::string& message) {
            reply.Text(status, Dump({{"accepted", status == 202}, {"message", message}}), "application/json");
        };
        if (token_.empty()) {
            answer(403, "this view is read-only");
            return;
        }
        const std::string key = ThrottleKey(request.address);
        const Clock::time_point now = Clock::now();
        if (Clock::duration wait = throttle_.Wait(key, now); wait > Clock::duration::zero()) {
            const auto seconds = std::chrono::ceil<std::chrono::seconds>(wait).count();
            answer(429, "too many wrong tokens; try again in " + std::to_string(seconds) + " s");
            reply.headers.emplace_back("Retry-After", std::to_string(seconds));
            return;
        }
        const std::string prefix = "Bearer ";
        const std::string& given = request.authorization;
        if (given.compare(0, prefix.size(), prefix) != 0 || !SameSecret(given.substr(prefix.size()), token_)) {
            throttle_.Failed(key, now);
            answer(403, "wrong or missing token");
            return;
        }
        throttle_.Succeeded(key);
        ControlAnswer control = ReadControlBody(request.body);
        if (control.status != 202) {
            answer(control.status, control.message);
            return;
        }
        control.request.source = "by the web view from " + request.address;
        if (!controls_.Post(control.request)) {
            answer(503, "too many requests waiting; try again");
            return;
        }
        nlohmann::json body = nlohmann::json::parse(request.body, nullptr, false);
        LogPaced(LogLevel::Info, "web", "web control", "control from %s: %s", request.address.c_str(),
                 body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
        answer(202, control.message);
    }

    MHD_Result Send(MHD_Connection* connection, const Request& request, const Reply& reply)
    {
        MHD_Response* response = nullptr;
        if (reply.fixedBody != nullptr) {
            response = MHD_create_response_from_buffer(reply.fixedBody->size(),
                                                       const_cast<char*>(reply.fixedBody->data()),
                                                       MHD_RESPMEM_PERSISTENT);
        } else {
            // The answer's bytes stay shared (a frame is not copied per client)
            // until the library is done with them.
            auto* keep = new std::shared_ptr<const std::string>(
                reply.body ? reply.body : std::make_shared<const std::string>());
            response = MHD_create_response_from_buffer_with_free_callback_cls(
                (*keep)->size(), const_cast<char*>((*keep)->data()),
                [](void* held) { delete static_cast<std::shared_ptr<const std::string>*>(held); }, keep);
            if (response == nullptr) delete keep;
        }
        if (response == nullptr) return MHD_NO;
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, reply.type.c_str());
        MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
        MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
        MHD_add_response_header(response, "X-Frame-Options", "DENY");
        for (const auto& [name, value] : reply.headers)
            MHD_add_response_header(response, name.c_str(), value.c_str());
        if (auto found = connections_.find(connection);
            found != connections_.end() && Clock::now() - found->second.opened > limits_.connectionTime)
            MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
        CountFailure(reply.status, request.address);
        MHD_Result queued = MHD_queue_response(connection, static_cast<unsigned int>(reply.status), response);
        MHD_destroy_response(response);
        return queued;
    }

    void CountFailure(int status, const std::string& address)
    {
        bool malformed = status == 400 || status == 413 || status == 414 || status == 431;
        if (status == 403 || status == 421 || status == 429) {
            Tell(refusedLog_, ++refused_, "request refused", status, address);
        } else if (malformed) {
            Tell(malformedLog_, ++malformed_, "malformed request", status, address);
        }
    }

    // The first of a kind, then at most one line a minute.
    void Tell(Clock::time_point& last, std::uint64_t count, const char* what, int status, const std::string& address)
    {
        std::lock_guard<std::mutex> lock(logMutex_);
        auto now = Clock::now();
        if (count != 1 && now - last < kFailureLogInterval) return;
        last = now;
        // NOTE: the library does not say whom it answered for requests it could not parse.
        const char* from = address.empty() ? "a client" : address.c_str();
        LogWarning("web", "%s from %s answered %d (%llu so far)", what, from, status,
                   static_cast<unsigned long long>(count));
    }

    HealthBoard& board_;
    ControlQueue& controls_;
    FrameSnapshot& frame_;
    const RemoteViewLimits limits_;
    std::string token_;
    std::string page_;
    std::vector<std::string> hosts_;
    MHD_Daemon* daemon_ = nullptr;
    // Poller thread only (every library callback runs there).
    std::unordered_map<MHD_Connection*, Connection> connections_;
    TokenThrottle throttle_;
    std::atomic<std::uint64_t> requests_{0};
    std::atomic<std::uint64_t> malformed_{0};
    std::atomic<std::uint64_t> refused_{0};
    std::mutex logMutex_;
    Clock::time_point malformedLog_;
    Clock::time_point refusedLog_;
};

RemoteView::RemoteView(HealthBoard& board, ControlQueue& controls, FrameSnapshot& frame, RemoteViewLimits limits) :
    server_(std::make_unique<Server>(board, controls, frame, limits))
{
}

RemoteView::~RemoteView() { Stop(); }

bool RemoteView::Start(const std::string& listen, const std::string& token, std::string& error,
                       const std::vector<std::string>& hosts)
{
    if (!ParseListenAddress(listen, host_, port_, error)) return false;
    if (!server_->Open(host_, port_, token, hosts)) {
        port_ = 0;
        error = "cannot listen on " + listen + " (address in use or not this machine's)";
        return false;
    }
    stopping_ = false;
    poller_ = std::thread([this] {
        platform::IgnoreBrokenPipesOnThisThread();
        platform::LowerThisThreadPriority();
        while (!stopping_) server_->Poll();
    });
    return true;
}

void RemoteView::Stop()
{
    if (!poller_.joinable()) return;
    stopping_ = true;
    poller_.join();
    server_->Close();
}

RemoteViewCounters RemoteView::Counters() const { return server_->Counters(); }
