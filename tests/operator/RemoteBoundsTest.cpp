// The web view against clients that do not play fair, without the token:
// bodies and headers that never end, slow connections, foreign host names,
// token guessing, and a stop while clients hang on. The limits are shortened
// so each case takes a fraction of a second.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "common/NonCopyable.h"
#include "operator/RemoteAccess.h"
#include "operator/RemoteView.h"
#include "operator/TokenFile.h"

namespace {

using BoundsClock = std::chrono::steady_clock;

// A client socket from a loopback source address of its choice (127.0.0.x),
// since the server counts connections per address.
class LoopbackClient : NonCopyable {
public:
    LoopbackClient(int port, const char* from = "127.0.0.1")
    {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in source{};
        source.sin_family = AF_INET;
        inet_pton(AF_INET, from, &source.sin_addr);
        bind(fd_, reinterpret_cast<sockaddr*>(&source), sizeof source);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<std::uint16_t>(port));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
    }
    ~LoopbackClient() { close(fd_); }

    bool Connected() const { return connected_; }
    bool Send(const std::string& bytes)
    {
        return send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    }
    // Whether the server closed (or reset) the connection within `wait`.
    bool ClosedWithin(std::chrono::milliseconds wait)
    {
        const auto end = BoundsClock::now() + wait;
        char buffer[4096];
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - BoundsClock::now()).count();
            if (left <= 0) return false;
            pollfd ready{fd_, POLLIN, 0};
            if (poll(&ready, 1, static_cast<int>(left)) <= 0) continue;
            ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
            if (got <= 0) return true;
            answer_.append(buffer, static_cast<std::size_t>(got));
        }
    }
    // The status line's code, or 0 when none came within `wait`.
    int Status(std::chrono::milliseconds wait = std::chrono::milliseconds(2000))
    {
        const auto end = BoundsClock::now() + wait;
        char buffer[4096];
        while (answer_.find("\r\n") == std::string::npos) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - BoundsClock::now()).count();
            pollfd ready{fd_, POLLIN, 0};
            if (left <= 0 || poll(&ready, 1, static_cast<int>(left)) <= 0) return 0;
            ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
            if (got <= 0) return 0;
            answer_.append(buffer, static_cast<std::size_t>(got));
        }
        return answer_.rfind("HTTP/1.", 0) == 0 ? std::atoi(answer_.c_str() + 9) : 0;
    }

private:
    int fd_ = -1;
    bool connected_ = false;
    std::string answer_;
};

std::string Get(const std::string& path, const std::string& host, const std::string& extra = "")
{
    return "GET " + path + " HTTP/1.1\r\nHost: " + host + "\r\n" + extra + "Connection: close\r\n\r\n";
}

class RemoteViewBounds : public ::testing::Test {
protected:
    void Start(const std::string& token, std::vector<std::string> hosts = {})
    {
        RemoteViewLimits limits;
        limits.connectionsPerAddress = 4;
        limits.requestTime = std::chrono::milliseconds(600);
        limits.connectionTime = std::chrono::milliseconds(3000);
        view = std::make_unique<RemoteView>(board, queue, frame, limits);
        std::string error;
        ASSERT_TRUE(view->Start("127.0.0.1:0", token, error, hosts)) << error;
        port = view->Port();
        local = "127.0.0.1:" + std::to_string(port);
    }

    // What a fresh client gets for the page, and how long it took.
    int Page(const char* from, std::chrono::milliseconds* took = nullptr)
    {
        auto start = BoundsClock::now();
        LoopbackClient client(port, from);
        if (!client.Connected() || !client.Send(Get("/", local))) return 0;
        int status = client.Status();
        if (took) *took = std::chrono::duration_cast<std::chrono::milliseconds>(BoundsClock::now() - start);
        return status;
    }

    HealthBoard board;
    ControlQueue queue;
    FrameSnapshot frame;
    std::unique_ptr<RemoteView> view;
    int port = 0;
    std::string local;
};

TEST_F(RemoteViewBounds, EndlessBodiesAndHeadersAreCutOffAndCounted)
{
    Start("s3cret");
    // A chunked body on a page that takes none, and on the control address:
    // cut off after a kilobyte, long before the 16 MB are sent.
    for (const char* path : {"/status.json", "/control"}) {
        LoopbackClient client(port);
        ASSERT_TRUE(client.Send(std::string("POST ") + path + " HTTP/1.1\r\nHost: " + local +
                                "\r\nTransfer-Encoding: chunked\r\n\r\n"));
        const std::string chunk = "1000\r\n" + std::string(4096, 'x') + "\r\n";
        int sent = 0;
        while (sent < 4096 && client.Send(chunk)) ++sent;
        EXPECT_LT(sent, 4096) << path << ": the whole body was taken";
    }
    // A declared length over the limit is answered before the body comes.
    LoopbackClient declared(port);
    ASSERT_TRUE(declared.Send("POST /control HTTP/1.1\r\nHost: " + local + "\r\nContent-Length: 300000000\r\n\r\n"));
    EXPECT_EQ(declared.Status(), 413);

    // Header lines without end: refused once they outgrow the connection's memory.
    LoopbackClient headers(port);
    std::string request = "GET / HTTP/1.1\r\nHost: " + local + "\r\n";
    for (int i = 0; i < 20000; ++i) request += "X-Line: " + std::to_string(i) + "\r\n";
    headers.Send(request + "\r\n");
    EXPECT_EQ(headers.Status(), 431);

    EXPECT_TRUE(queue.Drain().empty());
    EXPECT_GE(view->Counters().malformed, 4u);
    EXPECT_EQ(Page("127.0.0.1"), 200) << "still serving";
}

TEST_F(RemoteViewBounds, SlowClientsAreCutAndHoldNeitherThePageNorTheStop)
{
    Start("");
    // Ten slow clients from one address: four get in, the rest are closed at once.
    std::vector<std::unique_ptr<LoopbackClient>> slow;
    for (int i = 0; i < 10; ++i) {
        slow.push_back(std::make_unique<LoopbackClient>(port, "127.0.0.2"));
        slow.back()->Send("GET / HTTP/1.1\r\nHost: ");
    }
    int refused = 0;
    for (auto& client : slow) refused += client->ClosedWithin(std::chrono::milliseconds(100)) ? 1 : 0;
    EXPECT_EQ(refused, 6) << "connections per address";

    // A byte every 100 ms keeps a connection from going idle, not from its deadline.
    auto start = BoundsClock::now();
    std::vector<std::unique_ptr<LoopbackClient>> dribbling;
    for (int i = 0; i < 3; ++i) dribbling.push_back(std::make_unique<LoopbackClient>(port, "127.0.0.3"));
    int cut = 0;
    for (int step = 0; step < 15 && cut < 3; ++step) {
        cut = 0;
        for (auto& client : dribbling) cut += client->Send("X") ? 0 : 1;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(cut, 3);
    EXPECT_LT(BoundsClock::now() - start, std::chrono::milliseconds(1400));

    std::chrono::milliseconds took{};
    EXPECT_EQ(Page("127.0.0.1", &took), 200);
    EXPECT_LT(took.count(), 500) << "the page waits for no slow client";

    // A stop with slow clients still connected does not wait for them.
    std::vector<std::unique_ptr<LoopbackClient>> hanging;
    for (int i = 0; i < 3; ++i) {
        hanging.push_back(std::make_unique<LoopbackClient>(port, "127.0.0.4"));
        hanging.back()->Send("GET / HTTP/1.1\r\n");
    }
    start = BoundsClock::now();
    view->Stop();
    EXPECT_LT(BoundsClock::now() - start, std::chrono::milliseconds(300));
    for (auto& client : hanging) EXPECT_TRUE(client->ClosedWithin(std::chrono::milliseconds(100)));
}

TEST_F(RemoteViewBounds, OnlyItsOwnHostNamesAreAnswered)
{
    Start("", {"gallery.example"});
    const std::string port_ = ":" + std::to_string(port);
    struct Case {
        std::string host;
        int status;
    };
    const Case cases[] = {
        {local, 200}, {"localhost" + port_, 200}, {"LOCALHOST.", 200}, {"gallery.example" + port_, 200},
        {"evil.example" + port_, 421}, {"evil.example", 421}, {"127.0.0.2" + port_, 421},
        {"[::1]" + port_, 421}, {"localhost:x", 421},
    };
    for (const Case& c : cases) {
        LoopbackClient client(port);
        client.Send(Get("/status.json", c.host));
        EXPECT_EQ(client.Status(), c.status) << c.host;
    }
    EXPECT_GE(view->Counters().refused, 5u);
}

TEST_F(RemoteViewBounds, WrongTokensSlowTheirAddressDown)
{
    Start("s3cret");
    auto control = [&](const char* from, const std::string& token) {
        LoopbackClient client(port, from);
        const std::string body = R"({"action":"overlay","value":true})";
        client.Send("POST /control HTTP/1.1\r\nHost: " + local + "\r\nAuthorization: Bearer " + token +
                    "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
        return client.Status();
    };
    for (int i = 0; i < TokenThrottle::kFreeFailures + 1; ++i) EXPECT_EQ(control("127.0.0.5", "guess"), 403) << i;
    EXPECT_EQ(control("127.0.0.5", "guess"), 429);
    EXPECT_EQ(control("127.0.0.5", "s3cret"), 429) << "not even a right guess is looked at while locked";
    EXPECT_EQ(control("127.0.0.6", "s3cret"), 202) << "other addresses go on";
    EXPECT_EQ(queue.Drain().size(), 1u);
}

TEST(TokenThrottle, LocksDoubleUpToALimitAndARightTokenClears)
{
    TokenThrottle throttle;
    auto now = TokenThrottle::Clock::now();
    for (int i = 0; i < TokenThrottle::kFreeFailures; ++i) throttle.Failed("a", now);
    EXPECT_EQ(throttle.Wait("a", now), TokenThrottle::Clock::duration::zero());
    std::chrono::seconds expected(1);
    for (int i = 0; i < 10; ++i) {
        throttle.Failed("a", now);
        EXPECT_EQ(throttle.Wait("a", now), std::min<TokenThrottle::Clock::duration>(expected, TokenThrottle::kLongestLock));
        now += throttle.Wait("a", now);
        expected *= 2;
    }
    throttle.Succeeded("a");
    EXPECT_EQ(throttle.Wait("a", now), TokenThrottle::Clock::duration::zero());
    // A flood of addresses stays within its bound.
    for (int i = 0; i < 5000; ++i) throttle.Failed("b" + std::to_string(i), now);
    EXPECT_EQ(ThrottleKey("2001:db8:1:2:3:4:5:6"), "2001:db8:1:2::/64");
    EXPECT_EQ(ThrottleKey("::ffff:10.0.0.1"), "10.0.0.1");
}

TEST(TokenFile, OnlyASmallRegularFileIsRead)
{
    const std::string folder = ::testing::TempDir() + "solvane-token-" + std::to_string(getpid());
    mkdir(folder.c_str(), 0700);
    auto write = [&](const std::string& name, const std::string& text, mode_t mode) {
        std::string path = folder + "/" + name;
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, mode);
        (void)!::write(fd, text.data(), text.size());
        close(fd);
        chmod(path.c_str(), mode);
        return path;
    };
    std::string token, error, warning;
    EXPECT_TRUE(ReadTokenFile(write("good", "  s3cret \nsecond line\n", 0600), token, error, warning)) << error;
    EXPECT_EQ(token, "s3cret");
    EXPECT_TRUE(warning.empty());
    EXPECT_TRUE(ReadTokenFile(write("open", "s3cret", 0644), token, error, warning));
    EXPECT_NE(warning.find("chmod 600"), std::string::npos);

    const std::string fifo = folder + "/fifo";
    mkfifo(fifo.c_str(), 0600);
    const std::pair<std::string, const char*> bad[] = {
        {write("empty", "\n", 0600), "no token"},
        {write("large", std::string(kMaxTokenFileBytes + 1, 'x'), 0600), "larger than"},
        {fifo, "not a regular file"},
        {folder, "not a regular file"},
        {folder + "/missing", "No such file"},
    };
    for (const auto& [path, why] : bad) {
        error.clear();
        EXPECT_FALSE(ReadTokenFile(path, token, error, warning)) << path;
        EXPECT_NE(error.find(why), std::string::npos) << error;
    }
    std::filesystem::remove_all(folder);
}

}  // namespace
