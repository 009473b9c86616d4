// A day of gallery time in one process: the whole installation on the null
// renderer with the virtual clock, the built-in looping voice and the
// built-in peer sending pictures over loopback, arrow keys held now and
// then, and the window losing and regaining focus. Prints what the soak
// script reports: steps, wall time, resident memory at one minute, after
// warm-up and at the end, and how many stored voices were checked.
//
// usage: solvane-soak STEPS DATA_DIR
// Exit status 1 when a stored memory.wav is not a whole wave file or the
// memory grew more than 5 MB after warm-up.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "app/Application.h"
#include "platform/system/System.h"

namespace {

double ResidentMegabytes()
{
    long pages = 0, resident = 0;
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr) return 0;
    if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(statm);
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

std::uint32_t Le32(const std::vector<unsigned char>& b, std::size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

// A stored voice: a RIFF header promising exactly the bytes that follow, a
// "fmt " chunk of 160 000 Hz mono 16-bit PCM, then one "data" chunk of whole
// microphone blocks up to the end of the file.
bool WholeVoiceFile(const std::string& path, std::string& why)
{
    // One read of the whole file: a character at a time costs the soak
    // more than the installation spends on the step that stored it.
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    const std::streamoff length = file ? static_cast<std::streamoff>(file.tellg()) : 0;
    std::vector<unsigned char> bytes(length > 0 ? static_cast<std::size_t>(length) : 0);
    file.seekg(0);
    if (!file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size())))
        return why = "cannot be read", false;
    auto text = [&](std::size_t at) { return std::string(bytes.begin() + at, bytes.begin() + at + 4); };
    if (bytes.size() < 44) return why = "shorter than a header", false;
    if (text(0) != "RIFF" || text(8) != "WAVE" || text(12) != "fmt ") return why = "not a RIFF WAVE file", false;
    if (Le32(bytes, 4) != bytes.size() - 8) return why = "RIFF size disagrees with the file", false;
    std::uint32_t format = Le32(bytes, 16);
    if (format < 16 || format > 64) return why = "odd format chunk", false;
    if ((bytes[20] | bytes[21] << 8) != 1 || (bytes[22] | bytes[23] << 8) != 1 || Le32(bytes, 24) != 160000 ||
        (bytes[34] | bytes[35] << 8) != 16)
        return why = "not 160000 Hz mono 16-bit PCM", false;
    std::size_t data = 20 + format;
    if (bytes.size() < data + 8 || text(data) != "data") return why = "no data chunk after the format", false;
    std::uint32_t size = Le32(bytes, data + 4);
    if (size != bytes.size() - data - 8) return why = "data size disagrees with the file", false;
    if (size == 0 || size % 16000 != 0) return why = "not whole microphone blocks", false;
    return true;
}

class SoakApplication : public Application {
public:
    SoakApplication(const Options& options, std::string memoryPath)
        : Application(options), memoryPath_(std::move(memoryPath)), total_(options.steps)
    {
    }

    void Tick() override
    {
        std::uint32_t before = StepCount();
        Application::Tick();
        std::uint32_t step = StepCount();
        if (step == before) return;
        ChangeFocus(step);
        if (step % 25 == 0) CheckStoredVoice();
        auto now = std::chrono::steady_clock::now();
        if (rssAtMinute_ < 0 && now - start_ >= std::chrono::minutes(1)) rssAtMinute_ = ResidentMegabytes();
        if (step == WarmUpStep()) rssAfterWarmUp_ = ResidentMegabytes();
        if (step == total_) rssAtEnd_ = ResidentMegabytes();
        if (step % 100000 == 0)
            std::fprintf(stderr, "soak: step %u of %u, %.0f s, %.1f MB resident\n", step, total_,
                         std::chrono::duration<double>(now - start_).count(), ResidentMegabytes());
    }

    std::uint32_t WarmUpStep() const { return std::min<std::uint32_t>(20000, total_ / 3); }

    void CheckStoredVoice()
    {
        struct stat info {};
        if (stat(memoryPath_.c_str(), &info) != 0) return;
        std::int64_t stamp = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
        if (stamp == lastStamp_ && info.st_size == lastSize_) return;
        lastStamp_ = stamp;
        lastSize_ = info.st_size;
        std::string why;
        if (WholeVoiceFile(memoryPath_, why)) {
            ++voicesValid_;
        } else {
            ++voicesBroken_;
            std::fprintf(stderr, "soak: step %u: \"%s\" is broken: %s\n", StepCount(), memoryPath_.c_str(),
                         why.c_str());
        }
    }

    double rssAtMinute_ = -1;
    double rssAfterWarmUp_ = -1;
    double rssAtEnd_ = -1;  // at the last step, before the scene is taken down
    int voicesValid_ = 0;
    int voicesBroken_ = 0;

private:
    // Every 7 000 steps the window loses focus for 300 steps, as when a
    // notification or another program takes it.
    void ChangeFocus(std::uint32_t step)
    {
        if (step % 7000 == 0) SendFocus(0);
        if (step % 7000 == 300) SendFocus(1);
    }
    void SendFocus(WPARAM active)
    {
        SendMessageA(Handle(), WM_ACTIVATE, active, 0);
        SendMessageA(Handle(), WM_ACTIVATEAPP, active, 0);
    }

    std::string memoryPath_;
    std::uint32_t total_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::int64_t lastStamp_ = -1;
    std::int64_t lastSize_ = -1;
};

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3 || std::atol(argv[1]) <= 0) {
        std::fprintf(stderr, "usage: solvane-soak STEPS DATA_DIR\n");
        return 2;
    }
    Options options;
    options.steps = static_cast<std::uint32_t>(std::strtoul(argv[1], nullptr, 10));
    options.dataDir = argv[2];
    options.fast = true;
    options.demo = true;
    options.headless = true;
    options.renderer = "null";
    options.seed = 1;
    options.statusFile = options.dataDir + "/status.json";
    std::srand(1);
    // The arrow keys: left held for 60 steps, then right, every 20 000 steps.
    for (std::uint32_t at = 5000; at + 8000 < options.steps; at += 20000) {
        options.presses.push_back(KeyPress{VK_LEFT, at, at + 59});
        options.presses.push_back(KeyPress{VK_RIGHT, at + 7000, at + 7059});
    }

    std::string error;
    if (!platform::StartSystem(error)) {
        std::fprintf(stderr, "soak: cannot start: %s\n", error.c_str());
        return 1;
    }
    auto start = std::chrono::steady_clock::now();
    int status = 0;
    double rssEnd = 0, rssMinute = -1, rssWarm = -1;
    std::uint32_t steps = 0;
    int valid = 0, broken = 0;
    std::uint32_t warmUp = 0;
    {
        SoakApplication app(options, options.dataDir + "/memory.wav");
        if (!app.Init(nullptr, 1)) {
            std::fprintf(stderr, "soak: cannot start: %s\n", app.FailureReason().c_str());
            status = 1;
        } else {
            app.Run();
        }
        app.CheckStoredVoice();
        rssEnd = app.rssAtEnd_;
        rssMinute = app.rssAtMinute_;
        rssWarm = app.rssAfterWarmUp_;
        steps = app.StepCount();
        valid = app.voicesValid_;
        broken = app.voicesBroken_;
        warmUp = app.WarmUpStep();
    }
    platform::StopSystem();
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("soak: %u steps in %.1f s wall (%.0f steps/s)\n", steps, wall, steps / std::max(wall, 1e-9));
    if (rssMinute >= 0) std::printf("soak: resident memory at 1 min %.1f MB\n", rssMinute);
    else std::printf("soak: resident memory at 1 min: the run was shorter\n");
    std::printf("soak: resident memory after warm-up (step %u) %.1f MB, at the end %.1f MB, growth %.1f MB\n", warmUp,
                rssWarm, rssEnd, rssEnd - rssWarm);
    std::printf("soak: stored voices checked: %d whole, %d broken\n", valid, broken);
    if (steps != options.steps) {
        std::printf("soak: FAILED: %u of %u steps\n", steps, options.steps);
        status = 1;
    }
    if (broken > 0 || valid == 0) {
        std::printf("soak: FAILED: %s\n", valid == 0 ? "no voice was stored" : "a stored voice was broken");
        status = 1;
    }
    if (rssWarm >= 0 && rssEnd - rssWarm > 5.0) {
        std::printf("soak: FAILED: memory grew %.1f MB after warm-up\n", rssEnd - rssWarm);
        status = 1;
    }
    return status;
}
