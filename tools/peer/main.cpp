// solvane-peer: the peer's half of the installation's network link, run on
// the machine that supplies the pictures. It has no window: a window record
// with its own queue receives the socket notifications, and a small loop
// polls the sockets, hands the messages to the server and sends a picture
// whenever the interval has passed.
#include <algorithm>
#include <chrono>
#include <memory>
#include <cstdio>
#include <string>
#include <vector>

#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/stdout_sinks.h>

#include "PeerOptions.h"
#include "PictureServer.h"
#include "PictureSource.h"
#include "StopSignals.h"
#include "common/HelpAndVersion.h"
#include "common/Log.h"
#include "common/LogOutput.h"
#include "platform/sockets/Sockets.h"
#include "platform/system/Wait.h"
#include "platform/system/messages.h"

namespace {

constexpr int kGeneratedPictures = 8;
// The longest the loop sleeps without looking at the clock.
constexpr int kLongestWaitMs = 100;

using Clock = std::chrono::steady_clock;

// Lines start with the local time to the millisecond, as the installation's
// do, so that the two logs of a night can be laid side by side.
void SetUpPeerLogging()
{
    auto console = std::make_shared<spdlog::sinks::stderr_sink_mt>();
    console->set_formatter(std::make_unique<spdlog::pattern_formatter>("%Y-%m-%d %H:%M:%S.%e %v"));
    SetLogConsole(console);
}

int Run(const PeerOptions& options)
{
    StopSignals stops;
    PictureSource pictures;
    if (options.picturesDir.empty()) {
        pictures.UseGenerated(kGeneratedPictures);
    } else {
        std::string error;
        if (!pictures.LoadFolder(options.picturesDir, error)) {
            LogLine("peer", "%s", error.c_str());
            return 1;
        }
    }

    platform::MessageQueue queue;
    HWND__ window;
    window.queue = &queue;
    platform::Sockets sockets;
    PictureServer server(sockets, options.placesPerAddress);
    std::string error;
    if (!server.Start(&window, options.port, error)) {
        LogLine("peer", "%s", error.c_str());
        return 1;
    }
    LogLine("peer", "listening on TCP and UDP port %d; %zu %s picture%s, one every %d ms", server.Port(),
            pictures.Count(), options.picturesDir.empty() ? "generated" : "loaded", pictures.Count() == 1 ? "" : "s",
            options.intervalMs);

    const auto interval = std::chrono::milliseconds(options.intervalMs);
    const auto summaryEvery = std::chrono::seconds(options.summarySeconds);
    auto nextSend = Clock::now() + interval;
    auto nextSummary = Clock::now() + summaryEvery;
    std::uint32_t sent = 0;
    const char* stoppedBy = nullptr;
    while ((stoppedBy = stops.Received()) == nullptr) {
        sockets.Poll();
        MSG msg;
        while (queue.Get(msg)) server.HandleMessage(msg.hwnd, msg.message, msg.wParam, msg.lParam);
        server.Update();

        auto now = Clock::now();
        if (now >= nextSend) {
            // A late pass does not make up for lost time with a burst.
            nextSend = std::max(nextSend + interval, now);
            if (server.RegisteredCount() > 0) {
                const PeerPicture& picture = pictures.Next();
                server.SendPicture(picture.rgb.data(), static_cast<int>(picture.rgb.size()));
                ++sent;
                if (options.count != 0 && sent >= options.count) break;
            }
        }
        if (now >= nextSummary) {
            nextSummary = std::max(nextSummary + summaryEvery, now);
            LogLine("peer", "in the last %d s: %s", options.summarySeconds, server.TakeSummary().c_str());
        }
        if (!queue.Empty()) continue;
        auto untilSend = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::min(nextSend, nextSummary) - Clock::now())
                             .count();
        int waitMs = static_cast<int>(std::clamp<long long>(untilSend, 1, kLongestWaitMs));
        std::vector<int> fds;
        sockets.CollectWaitDescriptors(fds);
        stops.CollectWaitDescriptors(fds);
        platform::WaitForDescriptors(fds, waitMs);
    }
    if (stoppedBy != nullptr) LogLine("peer", "stopping: %s", stoppedBy);
    LogLine("peer", "sent %u picture%s (%s); done", sent, sent == 1 ? "" : "s", server.TakeSummary().c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    SetUpPeerLogging();
    PeerOptions options;
    std::string error;
    if (!ParsePeerOptions(argc, argv, options, error)) {
        LogLine("peer", "%s", error.c_str());
        std::fputs(PeerUsage(), stderr);
        return 2;
    }
    if (AnswerHelpOrVersion(options.showHelp, options.showVersion, PeerUsage(), "solvane-peer")) return 0;
    return Run(options);
}
