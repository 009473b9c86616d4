#include "render/VideoRecorder.h"

#include <time.h>

#include <cstdio>

#include "common/Log.h"
#include "platform/system/System.h"

namespace {

// Live files reach the disk every two seconds of steps (a key picture's
// distance), so that a power cut loses no more.
constexpr std::uint64_t kStepsPerSync = 40;
// A note about dropped pictures at most every ten seconds of steps.
constexpr std::uint64_t kStepsPerDropNote = 200;

double ThreadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
}

}  // namespace

VideoRecorder::VideoRecorder(VideoRecorderSettings settings) : settings_(std::move(settings)) {}

VideoRecorder::~VideoRecorder() { Finish(); }

std::string VideoRecorder::NumberedPath(const std::string& path, std::uint32_t number)
{
    const std::size_t slash = path.rfind('/');
    std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) dot = path.size();
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "-%04u", number);
    return path.substr(0, dot) + suffix + path.substr(dot);
}

std::string VideoRecorder::PathOf(std::uint32_t file) const
{
    return settings_.stepsPerFile == 0 ? settings_.path : NumberedPath(settings_.path, file);
}

bool VideoRecorder::Start(std::string& error)
{
    platform::VideoFileSettings file;
    file.deterministic = settings_.offline;
    fileNumber_ = 1;
    if (!file_.Open(PathOf(fileNumber_), file, error)) return false;
    counts_.state = "recording";
    counts_.file = PathOf(fileNumber_);
    LogLine("recording", "recording into \"%s\"", counts_.file.c_str());
    thread_ = std::thread([this] { Run(); });
    return true;
}

std::vector<std::uint8_t> VideoRecorder::PictureBuffer()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (spare_.empty()) return {};
    std::vector<std::uint8_t> buffer = std::move(spare_.back());
    spare_.pop_back();
    return buffer;
}

void VideoRecorder::AddStep(std::vector<std::uint8_t> rgb, int width, int height, std::vector<std::int16_t> sound)
{
    if (!thread_.joinable()) return;
    const std::uint64_t index = stepsAdded_++;
    std::uint64_t dropped = 0;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (stopped_ || finishing_) return;
        if (settings_.offline) {
            room_.wait(lock, [this] { return picturesQueued_ < settings_.queuedPictures || stopped_; });
            if (stopped_) return;
        } else if (queue_.size() >= settings_.queuedSteps) {
            lock.unlock();
            Stop("the encoder is a minute behind");
            return;
        } else if (!rgb.empty() && picturesQueued_ >= settings_.queuedPictures) {
            ++counts_.dropped;
            spare_.push_back(std::move(rgb));
            rgb.clear();
        }
        if (!rgb.empty()) ++picturesQueued_;
        queue_.push_back(Step{index, std::move(rgb), width, height, std::move(sound)});
        dropped = counts_.dropped;
    }
    wake_.notify_one();
    if (dropped != droppedNoted_ && (droppedNoted_ == 0 || index - lastDropNoteStep_ >= kStepsPerDropNote)) {
        LogWarning("recording", "the encoder is behind; pictures dropped so far: %llu (the sound is whole)",
                   static_cast<unsigned long long>(dropped));
        droppedNoted_ = dropped;
        lastDropNoteStep_ = index;
    }
}

void VideoRecorder::Stop(const std::string& why)
{
    std::string file;
    std::uint64_t frames = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopped_) return;
        stopped_ = true;
        counts_.state = "stopped";
        file = counts_.file;
        frames = counts_.frames;
        for (Step& step : queue_)
            if (!step.rgb.empty()) spare_.push_back(std::move(step.rgb));
        queue_.clear();
        picturesQueued_ = 0;
    }
    wake_.notify_all();
    room_.notify_all();
    LogError("recording", "%s; recording stopped after %llu pictures (\"%s\" holds what came before)", why.c_str(),
             static_cast<unsigned long long>(frames), file.c_str());
}

bool VideoRecorder::Encode(Step& step, std::string& error)
{
    std::uint64_t frameIndex = step.index;
    if (settings_.stepsPerFile != 0) {
        const auto number = static_cast<std::uint32_t>(step.index / settings_.stepsPerFile + 1);
        frameIndex = step.index % settings_.stepsPerFile;
        if (number != fileNumber_) {
            if (!file_.Close(error)) return false;
            LogLine("recording", "finished \"%s\"", PathOf(fileNumber_).c_str());
            platform::VideoFileSettings file;
            file.deterministic = settings_.offline;
            fileNumber_ = number;
            if (!file_.Open(PathOf(fileNumber_), file, error)) return false;
            std::lock_guard<std::mutex> lock(mutex_);
            counts_.file = PathOf(fileNumber_);
        }
    }
    if (!step.rgb.empty() &&
        !file_.WriteFrame(step.rgb.data(), step.width, step.height, static_cast<std::int64_t>(frameIndex), error))
        return false;
    if (!file_.WriteSound(step.sound.data(), step.sound.size(), error)) return false;
    if (!settings_.offline && step.index % kStepsPerSync == kStepsPerSync - 1) file_.Sync();
    return true;
}

void VideoRecorder::Run()
{
    platform::LowestThisThreadPriority();
    for (;;) {
        Step step;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return !queue_.empty() || finishing_ || stopped_; });
            if (stopped_ || queue_.empty()) break;
            step = std::move(queue_.front());
            queue_.pop_front();
        }
        const bool picture = !step.rgb.empty();
        const double before = ThreadCpuMs();
        std::string error;
        const bool ok = Encode(step, error);
        const double spent = ThreadCpuMs() - before;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (picture) {
                --picturesQueued_;
                ++counts_.frames;
                encoderCpuMs_ += spent;
                counts_.encoderCpuMsPerFrame = encoderCpuMs_ / static_cast<double>(counts_.frames);
                spare_.push_back(std::move(step.rgb));
            }
        }
        room_.notify_one();
        if (!ok) {
            Stop(file_.DiskFull() ? "the disk is full" : error);
            break;
        }
    }
    std::string error;
    if (!file_.Close(error)) Stop(file_.DiskFull() ? "the disk is full" : error);
}

void VideoRecorder::Finish()
{
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        finishing_ = true;
    }
    wake_.notify_all();
    thread_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    // A recording that failed has said so in its one line.
    if (stopped_) return;
    counts_.state = "stopped";
    LogLine("recording", "wrote %llu pictures into \"%s\" (%llu dropped; the encoder took %.1f ms of CPU per picture)",
            static_cast<unsigned long long>(counts_.frames), counts_.file.c_str(),
            static_cast<unsigned long long>(counts_.dropped), counts_.encoderCpuMsPerFrame);
}

VideoCounts VideoRecorder::Counts() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return counts_;
}
