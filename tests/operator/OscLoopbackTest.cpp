// OSC through real sockets on loopback: what the sender sends arrives whole,
// and the listener turns commands into queued requests and counts the rest.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "operator/OscListener.h"
#include "operator/OscSender.h"
#include "platform/sockets/OscTransport.h"

namespace {

using Clock = std::chrono::steady_clock;

// Generous: loopback delivery is immediate, but the machine may be busy.
constexpr auto kPatience = std::chrono::seconds(10);

platform::OscOutgoing Outgoing(const char* path, const char* types)
{
    platform::OscOutgoing message;
    message.path = path;
    for (int k = 0; k < 3 && types[k] != '\0'; ++k) message.types[k] = types[k];
    return message;
}

TEST(OscLoopback, SentMessagesArriveWithTheirArguments)
{
    platform::OscReceiveSocket receiver;
    std::string error;
    ASSERT_TRUE(receiver.Open("127.0.0.1", 0, error)) << error;

    OscSender sender;
    ASSERT_TRUE(sender.Start("127.0.0.1", std::to_string(receiver.Port())));
    platform::OscOutgoing level = Outgoing("/solvane/level", "ff");
    level.f[0] = -6.5f;
    level.f[1] = -12.25f;
    platform::OscOutgoing crystal = Outgoing("/solvane/crystal", "is");
    crystal.i = 7;
    crystal.s = "dissolving";
    const platform::OscOutgoing batch[] = {level, crystal, Outgoing("/solvane/flash", "")};
    sender.Post(batch, 3);

    std::vector<platform::OscMessage> received;
    std::uint8_t buffer[2048];
    const auto deadline = Clock::now() + kPatience;
    while (received.size() < 3 && Clock::now() < deadline) {
        const long length = receiver.Receive(buffer, sizeof buffer, 100);
        if (length < 0) continue;
        platform::OscPacket packet = platform::ParseOscPacket(buffer, static_cast<std::size_t>(length));
        EXPECT_EQ(packet.refused, 0u);
        for (auto& message : packet.messages) received.push_back(std::move(message));
    }
    ASSERT_EQ(received.size(), 3u);
    EXPECT_EQ(received[0].path, "/solvane/level");
    EXPECT_EQ(received[0].types, "ff");
    EXPECT_FLOAT_EQ(received[0].arguments[0].f, -6.5f);
    EXPECT_FLOAT_EQ(received[0].arguments[1].f, -12.25f);
    EXPECT_EQ(received[1].path, "/solvane/crystal");
    EXPECT_EQ(received[1].types, "is");
    EXPECT_EQ(received[1].arguments[0].i, 7);
    EXPECT_EQ(received[1].arguments[1].s, "dissolving");
    EXPECT_EQ(received[2].path, "/solvane/flash");
    EXPECT_TRUE(received[2].arguments.empty());
}

TEST(OscLoopback, ListenerQueuesCommandsAndCountsTheRest)
{
    ControlQueue queue;
    OscListener listener(queue);
    std::string error;
    ASSERT_TRUE(listener.Start("127.0.0.1", 0, error)) << error;

    platform::OscSendSocket socket;
    ASSERT_TRUE(socket.Open("127.0.0.1", std::to_string(listener.Port())));
    platform::OscOutgoing threshold = Outgoing("/solvane/threshold", "f");
    threshold.f[0] = -36.0f;
    platform::OscOutgoing wrong = Outgoing("/solvane/threshold", "s");
    const platform::OscOutgoing messages[] = {Outgoing("/solvane/nothing", ""), wrong, threshold,
                                              Outgoing("/solvane/quit", "")};
    for (const auto& message : messages) ASSERT_TRUE(socket.Send(message, error)) << error;

    std::vector<ControlRequest> requests;
    const auto deadline = Clock::now() + kPatience;
    while ((requests.size() < 2 || listener.Ignored() < 2) && Clock::now() < deadline) {
        for (const ControlRequest& request : queue.Drain()) requests.push_back(request);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].kind, ControlRequest::Kind::SetThreshold);
    EXPECT_DOUBLE_EQ(requests[0].value, -36.0);
    EXPECT_EQ(requests[1].kind, ControlRequest::Kind::Close);
    // Each request names its sender, for the log.
    EXPECT_EQ(requests[1].source.rfind("by OSC from 127.0.0.1:", 0), 0u) << requests[1].source;
    EXPECT_EQ(listener.Accepted(), 2u);
    EXPECT_EQ(listener.Ignored(), 2u);
}

// Senders outside the allow-list change nothing and are counted.
TEST(OscLoopback, StrangersOutsideTheAllowListAreIgnored)
{
    ControlQueue queue;
    OscAllowList allowed;
    std::string error;
    ASSERT_TRUE(OscAllowList::Parse("10.0.0.0/8, 192.168.1.20", allowed, error)) << error;
    EXPECT_TRUE(allowed.Allows(0x0A010203u));
    EXPECT_FALSE(allowed.Allows(0xC0A80115u));
    EXPECT_FALSE(OscAllowList::Parse("10.0.0.0/33", allowed, error));
    OscListener listener(queue, allowed);
    ASSERT_TRUE(listener.Start("127.0.0.1", 0, error)) << error;
    platform::OscSendSocket socket;
    ASSERT_TRUE(socket.Open("127.0.0.1", std::to_string(listener.Port())));
    ASSERT_TRUE(socket.Send(Outgoing("/solvane/quit", ""), error)) << error;
    const auto deadline = Clock::now() + kPatience;
    while (listener.Ignored() < 1 && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(listener.Ignored(), 1u);
    EXPECT_TRUE(queue.Drain().empty());
}

// Nobody listens at the destination: every message is still taken off the
// queue (sent as far as UDP goes, or failed), nothing is dropped, and the
// sender stops when it is destroyed.
TEST(OscLoopback, NobodyListeningIsNoError)
{
    platform::OscReceiveSocket placeholder;  // a port that was free a moment ago
    std::string error;
    ASSERT_TRUE(placeholder.Open("127.0.0.1", 0, error)) << error;
    const std::string port = std::to_string(placeholder.Port());
    placeholder.Close();

    OscSender sender;
    ASSERT_TRUE(sender.Start("127.0.0.1", port));
    std::vector<platform::OscOutgoing> flashes(10, Outgoing("/solvane/flash", ""));
    std::uint64_t posted = 0;
    for (int batch = 0; batch < 20; ++batch) {
        sender.Post(flashes.data(), flashes.size());
        posted += flashes.size();
        const auto deadline = Clock::now() + kPatience;
        while (sender.Sent() + sender.Failed() < posted && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_EQ(sender.Sent() + sender.Failed(), posted);
    }
    EXPECT_EQ(sender.Dropped(), 0u);
}

// A port another program holds fails the start with the address named; a
// second installation on the same machine must be told, not left deaf.
TEST(OscLoopback, ListeningOnATakenPortFails)
{
    ControlQueue queue;
    OscListener first(queue);
    std::string error;
    ASSERT_TRUE(first.Start("127.0.0.1", 0, error)) << error;
    OscListener second(queue);
    EXPECT_FALSE(second.Start("127.0.0.1", first.Port(), error));
    EXPECT_NE(error.find("127.0.0.1:" + std::to_string(first.Port())), std::string::npos) << error;
    OscListener unknown(queue);
    EXPECT_FALSE(unknown.Start("no-such-host.invalid", 9001, error));
    EXPECT_NE(error.find("no-such-host.invalid"), std::string::npos) << error;
}

}  // namespace
