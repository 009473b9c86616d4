// The road of one voice through the sound code, without the scene: a voice
// file as the microphone, every block copied by the window procedure,
// appended once per block while "recording", stored and loaded again. The
// stored file must hold exactly the recorded blocks, sample for sample.
#include <gtest/gtest.h>

#include <cstring>

#include "SoundTestSupport.h"
#include "sound/MusicPlayer.h"
#include "sound/MusicSegment.h"
#include "sound/RecordingList.h"
#include "sound/VoiceCapture.h"
#include "sound/VoiceStore.h"

using namespace soundtest;

TEST(VoiceRoad, StoredFileHoldsExactlyTheRecordedBlocks)
{
    ScratchDir dir("voice-road");
    // 1.5 s of a voice at the capture rate: the conversion is then the identity.
    std::vector<std::int16_t> voice(240000);
    for (std::size_t i = 0; i < voice.size(); ++i) voice[i] = static_cast<std::int16_t>((i * 37) % 20000 - 10000);
    WritePcmWave(dir.File("voice.wav"), 160000, 1, voice);

    CaptureWindow window;
    VoiceCapture capture;
    window.capture = &capture;
    capture.Configure(VoiceCaptureSettings{dir.File("voice.wav"), "", true, {}});
    capture.Open(&window.record);
    ASSERT_TRUE(capture.IsOpen());

    MusicPlayer player;
    ASSERT_TRUE(player.Init(nullptr));
    RecordingList list;
    auto segment = std::make_unique<MusicSegment>();
    VoiceStore store({dir.File("memory.wav"), dir.File("user/memory.wav"), dir.File("tmp-memory.wav")});

    // Steps 1..40; sixteen crystals record during steps 5..24 and then all
    // store at once. Each offers the current block; the list keeps it once.
    std::uint32_t serial = 0;
    for (int step = 1; step <= 40; ++step) {
        capture.Poll();
        serial += static_cast<std::uint32_t>(window.Pump());
        const std::int16_t* latest = window.copied.data() + (window.copied.size() - 8000);
        if (step >= 5 && step <= 24)
            for (int crystal = 0; crystal < 16; ++crystal) list.AppendBlock(latest, serial);
        if (step == 24)
            for (int crystal = 0; crystal < 16; ++crystal) store.Store(list, segment, &player);
    }
    EXPECT_EQ(1u, store.Writes());
    ASSERT_EQ(20, list.Count());

    auto bytes = ReadBytes(dir.File("memory.wav"));
    ASSERT_EQ(46u + 20u * 16000u, bytes.size());
    EXPECT_EQ(0, std::memcmp(bytes.data() + 46, voice.data() + 4 * 8000, 20 * 16000));
    ASSERT_TRUE(segment->IsLoaded());
    EXPECT_EQ(20 * 8000, segment->Length());
    list.FreeAll();
}
