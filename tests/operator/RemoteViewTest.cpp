// The web view served on loopback, driven by a real HTTP client: what each
// address answers, that controls pass only with the token and in range, and
// that bad requests are answered 400 and counted without reaching the queue.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "common/Log.h"
#include "operator/RemoteView.h"
#include "platform/files/PngFile.h"

namespace {

TEST(ListenAddress, LoopbackUnlessAnotherAddressIsNamed)
{
    struct Case {
        const char* text;
        bool ok;
        const char* host;
        int port;
    };
    const Case cases[] = {
        {"8080", true, "127.0.0.1", 8080},         {":8080", false, "", 0},
        {"0.0.0.0:80", true, "0.0.0.0", 80},       {"192.168.1.5:9000", true, "192.168.1.5", 9000},
        {"[::1]:8080", true, "::1", 8080},         {"0", true, "127.0.0.1", 0},
        {"", false, "", 0},                        {"host:", false, "", 0},
        {"8080x", false, "", 0},                   {"65536", false, "", 0},
        {"::1:8080", false, "", 0},                {"[::1]8080", false, "", 0},
        {"127.0.0.1:-1", false, "", 0},            {"127.0.0.1:123456", false, "", 0},
    };
    for (const Case& c : cases) {
        std::string host, error;
        int port = -1;
        bool ok = ParseListenAddress(c.text, host, port, error);
        EXPECT_EQ(ok, c.ok) << c.text;
        if (ok && c.ok) {
            EXPECT_EQ(host, c.host) << c.text;
            EXPECT_EQ(port, c.port) << c.text;
        } else if (!ok) {
            EXPECT_FALSE(error.empty()) << c.text;
        }
    }
}

TEST(FrameSnapshot, EncodesEachNewFrameOnceAndFitsItInto640x480)
{
    FrameSnapshot snapshot(std::chrono::milliseconds(1000));
    auto start = FrameSnapshot::Clock::now();
    EXPECT_TRUE(snapshot.Due(start));
    EXPECT_EQ(snapshot.Png(), nullptr);

    // A 1280x960 picture, left half red, right half blue.
    std::vector<std::uint8_t> rgb(1280 * 960 * 3);
    for (std::size_t p = 0; p < 1280 * 960; ++p) rgb[p * 3 + ((p % 1280) < 640 ? 0 : 2)] = 255;
    snapshot.Offer(rgb, 1280, 960, start);
    EXPECT_FALSE(snapshot.Due(start + std::chrono::milliseconds(999)));
    EXPECT_TRUE(snapshot.Due(start + std::chrono::milliseconds(1000)));

    std::uint64_t serial = 0;
    auto png = snapshot.Png(&serial);
    ASSERT_NE(png, nullptr);
    EXPECT_EQ(serial, 1u);
    EXPECT_EQ(snapshot.Png(), png) << "an unchanged frame is not encoded again";

    std::string path = std::filesystem::temp_directory_path() / "solvane-remote-frame.png";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fwrite(png->data(), 1, png->size(), file);
    std::fclose(file);
    unsigned width = 0, height = 0;
    std::vector<std::uint8_t> decoded;
    ASSERT_TRUE(platform::ReadPng(path, width, height, platform::PixelLayout::Rgb, decoded));
    std::remove(path.c_str());
    EXPECT_EQ(width, 640u);
    EXPECT_EQ(height, 480u);
    EXPECT_EQ(decoded[(100 * 640 + 10) * 3], 255);
    EXPECT_EQ(decoded[(100 * 640 + 630) * 3 + 2], 255);

    snapshot.Offer(std::vector<std::uint8_t>(640 * 480 * 3, 7), 640, 480, start + std::chrono::seconds(1));
    EXPECT_NE(snapshot.Png(&serial), png);
    EXPECT_EQ(serial, 2u);
}

class RemoteViewServing : public ::testing::Test {
protected:
    void Start(const std::string& token)
    {
        std::string error;
        ASSERT_TRUE(view.Start("127.0.0.1:0", token, error)) << error;
        ASSERT_GT(view.Port(), 0);
        client = std::make_unique<httplib::Client>("127.0.0.1", view.Port());
        client->set_read_timeout(5, 0);
    }

    httplib::Result Control(const std::string& token, const std::string& body)
    {
        httplib::Headers headers;
        if (!token.empty()) headers.emplace("Authorization", "Bearer " + token);
        return client->Post("/control", headers, body, "application/json");
    }

    // A raw request, for what a well-behaved client would never send.
    std::string Raw(const std::string& request)
    {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(view.Port()));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        std::string answer;
        timeval wait{3, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            (void)!write(fd, request.data(), request.size());
            char buffer[4096];
            ssize_t got = 0;
            // The status line is all these checks need.
            while (answer.find("\r\n") == std::string::npos && (got = read(fd, buffer, sizeof buffer)) > 0)
                answer.append(buffer, static_cast<std::size_t>(got));
        }
        close(fd);
        return answer;
    }

    HealthBoard board;
    ControlQueue queue;
    FrameSnapshot frame;
    RemoteView view{board, queue, frame};
    std::unique_ptr<httplib::Client> client;
};

TEST_F(RemoteViewServing, ServesThePageStatusFrameAndLog)
{
    Health health;
    health.steps = 1234;
    health.threshold = 5000;
    health.crystals[1] = 16;
    health.microphone.device = "bad \xff name";  // not UTF-8: still a valid document
    board.Publish(health);
    LogLine("webtest", "a line for the remote log");
    Start("");

    auto page = client->Get("/");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_NE(page->body.find("<img id=\"frame\""), std::string::npos);
    EXPECT_EQ(page->body.find("id=\"token\""), std::string::npos) << "no controls without a token";
    EXPECT_EQ(page->body.find("src=\"http"), std::string::npos) << "the page needs no other files";

    auto status = client->Get("/status.json");
    ASSERT_TRUE(status);
    EXPECT_EQ(status->get_header_value("Content-Type"), "application/json");
    nlohmann::json document = nlohmann::json::parse(status->body);
    EXPECT_EQ(document["steps"], 1234);
    EXPECT_EQ(document["threshold"], 5000);
    EXPECT_EQ(document["crystals"]["recording"], 16);
    EXPECT_EQ(document["web"]["controls"], false);

    auto none = client->Get("/frame.png");
    ASSERT_TRUE(none);
    EXPECT_EQ(none->status, 503) << "no frame presented yet";
    frame.Offer(std::vector<std::uint8_t>(640 * 480 * 3, 90), 640, 480, FrameSnapshot::Clock::now());
    auto png = client->Get("/frame.png");
    ASSERT_TRUE(png);
    EXPECT_EQ(png->status, 200);
    EXPECT_EQ(png->get_header_value("Content-Type"), "image/png");
    EXPECT_EQ(png->body.compare(0, 8, "\x89PNG\r\n\x1a\n"), 0);

    auto log = client->Get("/log");
    ASSERT_TRUE(log);
    EXPECT_NE(log->body.find("webtest: a line for the remote log"), std::string::npos);

    auto missing = client->Get("/nothing-here");
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->status, 404);
}

TEST_F(RemoteViewServing, ControlsNeedTheTokenAndValuesInRange)
{
    Start("s3cret");
    auto page = client->Get("/");
    ASSERT_TRUE(page);
    EXPECT_NE(page->body.find("id=\"token\""), std::string::npos);

    const std::string threshold = R"({"action":"threshold","value":-30})";
    for (const std::string& token : {std::string(), std::string("wrong"), std::string("s3cre"), std::string("s3cret!")}) {
        auto refused = Control(token, threshold);
        ASSERT_TRUE(refused);
        EXPECT_EQ(refused->status, 403) << token;
    }
    EXPECT_TRUE(queue.Drain().empty());

    struct Case {
        const char* body;
        int status;
    };
    const Case cases[] = {
        {R"({"action":"threshold","value":-30})", 202}, {R"({"action":"gain","value":6.5})", 202},
        {R"({"action":"overlay","value":true})", 202},  {R"({"action":"close"})", 202},
        {R"({"action":"threshold","value":3})", 400},   {R"({"action":"threshold","value":-91})", 400},
        {R"({"action":"threshold","value":"-30"})", 400}, {R"({"action":"gain","value":41})", 400},
        {R"({"action":"gain"})", 400},                  {R"({"action":"overlay","value":1})", 400},
        {R"({"action":"explode"})", 400},               {R"({"action":"threshold",)", 400},
        {R"([1,2,3])", 400},                            {"", 400},
    };
    for (const Case& c : cases) {
        auto answer = Control("s3cret", c.body);
        ASSERT_TRUE(answer) << c.body;
        EXPECT_EQ(answer->status, c.status) << c.body;
    }
    std::vector<ControlRequest> queued = queue.Drain();
    ASSERT_EQ(queued.size(), 4u);
    EXPECT_EQ(queued[0].kind, ControlRequest::Kind::SetThreshold);
    EXPECT_DOUBLE_EQ(queued[0].value, -30);
    EXPECT_EQ(queued[1].kind, ControlRequest::Kind::SetGain);
    EXPECT_DOUBLE_EQ(queued[1].value, 6.5);
    EXPECT_EQ(queued[2].kind, ControlRequest::Kind::ShowPanel);
    EXPECT_DOUBLE_EQ(queued[2].value, 1);
    EXPECT_EQ(queued[3].kind, ControlRequest::Kind::Close);

    RemoteViewCounters counters = view.Counters();
    EXPECT_EQ(counters.refused, 4u);
    EXPECT_EQ(counters.malformed, 10u);
}

TEST_F(RemoteViewServing, WithoutATokenEveryControlIsRefused)
{
    Start("");
    auto answer = Control("anything", R"({"action":"close"})");
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 403);
    EXPECT_TRUE(queue.Drain().empty());
}

TEST_F(RemoteViewServing, BrokenAndOversizedRequestsAreAnswered400AndCounted)
{
    Start("s3cret");
    // A line that is no request line at all is not answered: the server hangs up.
    EXPECT_EQ(Raw("GARBAGE\r\n\r\n"), "");
    EXPECT_EQ(Raw("GET / HTTP/1.1\r\nno colon\r\n\r\n").rfind("HTTP/1.1 400", 0), 0u);
    EXPECT_EQ(Raw("GET /" + std::string(9000, 'a') + " HTTP/1.1\r\n\r\n").rfind("HTTP/1.1 414", 0), 0u);
    std::string big = R"({"action":"close","pad":")" + std::string(RemoteView::kMaxBodyBytes, 'x') + "\"}";
    auto tooLarge = Control("s3cret", big);
    ASSERT_TRUE(tooLarge);
    EXPECT_EQ(tooLarge->status, 413);
    EXPECT_TRUE(queue.Drain().empty());
    EXPECT_GE(view.Counters().malformed, 3u);

    // Still serving afterwards.
    auto status = client->Get("/status.json");
    ASSERT_TRUE(status);
    EXPECT_EQ(status->status, 200);
}

TEST_F(RemoteViewServing, AnAddressInUseFailsTheStart)
{
    Start("");
    RemoteView second{board, queue, frame};
    std::string error;
    EXPECT_FALSE(second.Start("127.0.0.1:" + std::to_string(view.Port()), "", error));
    EXPECT_NE(error.find("cannot listen"), std::string::npos) << error;
}

}  // namespace
