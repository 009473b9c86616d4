// The microphone comes back: through a capture backend whose device can be
// made to vanish and return, the capture says once that it is lost, goes on
// silent, tries again every 2 s, says when it is back and records again; the
// voice recorded after the return is stored whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "SoundTestSupport.h"
#include "sound/MusicPlayer.h"
#include "sound/MusicSegment.h"
#include "sound/RecordingList.h"
#include "sound/VoiceCapture.h"
#include "sound/VoiceStore.h"

using namespace soundtest;

namespace {

// One device, "USB Mic", that the test plugs in and pulls out.
class VanishingBackend : public platform::CaptureBackend {
public:
    struct Device {
        bool present = true;
        std::vector<std::int16_t> feed;  // samples the device delivers at the next Drain
        int opens = 0;
        int tries = 0;
    };

    explicit VanishingBackend(Device* device) : device_(device) {}

    std::unique_ptr<platform::CaptureStream> Open(const std::string& name, int, std::string& error) override
    {
        ++device_->tries;
        if (!device_->present || (!name.empty() && name != "USB Mic")) {
            error = "no such device";
            return nullptr;
        }
        ++device_->opens;
        return std::make_unique<Stream>(device_);
    }
    std::vector<std::string> DeviceNames() override
    {
        return device_->present ? std::vector<std::string>{"USB Mic"} : std::vector<std::string>{};
    }

private:
    class Stream : public platform::CaptureStream {
    public:
        explicit Stream(Device* device) : device_(device) {}
        void Drain(std::vector<std::int16_t>& samples) override
        {
            if (!device_->present) return;
            samples.insert(samples.end(), device_->feed.begin(), device_->feed.end());
            device_->feed.clear();
        }
        bool Lost() const override { return !device_->present; }

    private:
        Device* device_;
    };
    Device* device_;
};

class CaptureRecovery : public ::testing::Test {
protected:
    void Start(const std::string& inputDevice, bool present)
    {
        device.present = present;
        window.capture = &capture;
        capture.Configure(VoiceCaptureSettings{"", inputDevice, false, [this] { return now; }});
        capture.UseBackend(std::make_unique<VanishingBackend>(&device));
        testing::internal::CaptureStderr();
        capture.Open(&window.record);
        log += testing::internal::GetCapturedStderr();
    }
    // Runs the loop for ms milliseconds in 10 ms passes; while the device is
    // there it delivers a loud block (value `loud`) every 50 ms.
    void Run(std::uint32_t ms, std::int16_t loud)
    {
        testing::internal::CaptureStderr();
        for (std::uint32_t t = 0; t < ms; t += 10) {
            now += 10;
            if (device.present && now % 50 == 0) device.feed.insert(device.feed.end(), 8000, loud);
            capture.Poll();
            window.Pump();
        }
        log += testing::internal::GetCapturedStderr();
    }
    int Lines(const std::string& text) const
    {
        int n = 0;
        for (std::size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
        return n;
    }

    VanishingBackend::Device device;
    CaptureWindow window;
    VoiceCapture capture;
    std::uint32_t now = 1000;
    std::string log;
};

TEST_F(CaptureRecovery, ADeviceThatVanishesForTenSecondsRecordsAgainAndItsVoiceIsStoredWhole)
{
    Start("", true);
    EXPECT_EQ(VoiceCapture::MicrophoneState::Recording, capture.State());
    Run(1000, 1000);
    const std::size_t before = window.copied.size();
    EXPECT_GE(before, 18u * 8000);
    EXPECT_GT(capture.LastPeakDbfs(), -31.0);  // 1000 of 32768 is -30.3 dBFS
    EXPECT_NEAR(capture.LastPeakDbfs(), capture.LastRmsDbfs(), 0.01);

    device.present = false;
    Run(10000, 1000);
    EXPECT_EQ(VoiceCapture::MicrophoneState::Lost, capture.State());
    EXPECT_EQ(1, Lines("was lost; going on silent")) << log;
    EXPECT_LE(window.copied.size(), before + 8000) << "nothing is recorded while the device is away";
    // Tried again every 2 s after the loss (at 2, 4, 6 and 8 s of the 10),
    // without a line for each try.
    EXPECT_EQ(4, device.tries - 1) << log;
    EXPECT_EQ(0, Lines("no such device")) << log;

    device.present = true;
    const std::size_t away = window.copied.size();
    Run(2000, 2000);
    EXPECT_EQ(VoiceCapture::MicrophoneState::Recording, capture.State());
    EXPECT_EQ(1, Lines("is back; recording again")) << log;
    EXPECT_EQ(2, device.opens);
    ASSERT_GE(window.copied.size(), away + 10u * 8000) << "recording resumed within 2 s";

    // The voice recorded after the return, stored as memory.wav, is whole.
    RecordingList list;
    std::uint32_t serial = 0;
    for (std::size_t at = away; at + 8000 <= window.copied.size(); at += 8000)
        if (window.copied[at] == 2000) list.AppendBlock(window.copied.data() + at, ++serial);
    ASSERT_GE(list.Count(), 10);
    ScratchDir dir{"capture-recovery"};
    MusicPlayer player;
    ASSERT_TRUE(player.Init(nullptr));
    auto segment = std::make_unique<MusicSegment>();
    VoiceStore store({dir.File("memory.wav")});
    testing::internal::CaptureStderr();
    EXPECT_TRUE(store.Store(list, segment, &player));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(46u + static_cast<std::uint64_t>(list.Count()) * 16000u, std::filesystem::file_size(dir.File("memory.wav")));
    ASSERT_TRUE(segment->IsLoaded());
    EXPECT_EQ(list.Count() * 8000, segment->Length());
    EXPECT_TRUE(std::all_of(segment->Wave()->samples.begin(), segment->Wave()->samples.end(),
                            [](std::int16_t s) { return s == 2000; }));
    list.FreeAll();
    capture.Close();
}

TEST_F(CaptureRecovery, NoDeviceAtTheStartIsOneLineAndItIsUsedWhenItComes)
{
    Start("", false);
    EXPECT_TRUE(capture.IsOpen());
    EXPECT_EQ(VoiceCapture::MicrophoneState::None, capture.State());
    EXPECT_EQ(1, Lines("running without sound input, trying again every 2 s")) << log;
    Run(5000, 500);
    EXPECT_TRUE(window.copied.empty());
    EXPECT_EQ(1, Lines("solvane: capture:")) << "one line until it comes: " << log;
    device.present = true;
    Run(3000, 500);
    EXPECT_EQ(VoiceCapture::MicrophoneState::Recording, capture.State());
    EXPECT_EQ(1, Lines("the default capture device is back; recording again")) << log;
    EXPECT_FALSE(window.copied.empty());
    capture.Close();
}

TEST_F(CaptureRecovery, AnUnknownInputDeviceListsTheDevicesThatExist)
{
    Start("USB Mik", true);
    EXPECT_EQ(VoiceCapture::MicrophoneState::None, capture.State());
    EXPECT_EQ("USB Mik", capture.DeviceName());
    EXPECT_EQ(1, Lines("capture device \"USB Mik\" does not exist (capture devices: \"USB Mic\")")) << log;
    Run(5000, 500);
    EXPECT_EQ(1, Lines("solvane: capture:")) << log;
    EXPECT_TRUE(window.copied.empty());
    capture.Close();
}

}  // namespace
