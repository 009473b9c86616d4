// A world with the crystals' neighbours (lights, analyser, recording list)
// on a recording device, and helpers to feed it microphone blocks.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "crystal/World.h"
#include "platform/d3d9/RecordingDevice.h"
#include "support/DeviceTestSupport.h"
#include "scenery/LightSet.h"
#include "sound/RecordingList.h"
#include "sound/SpectrumAnalyser.h"

class CrystalFixture : public ::testing::Test {
protected:
    CrystalFixture()
    {
        device = testsupport::NewRecordingDevice();
        device->SetKeepVertices(true);
    }
    ~CrystalFixture() override
    {
        world.Shutdown();
        device->Release();
    }

    void SetUp() override
    {
        world.lights = std::make_unique<LightSet>();
        ASSERT_TRUE(world.lights->Create(device, SOLVANE_SOURCE_DIR "/data"));
        world.analyser = std::make_unique<SpectrumAnalyser>();
        ASSERT_TRUE(world.analyser->Init(4096));
        world.recordingList = std::make_unique<RecordingList>();
    }

    // A new microphone block whose largest sample is `peak` (a square wave
    // of the given period, so the spectrum has a clear low bin).
    void FeedBlock(int peak, int period = 100)
    {
        std::vector<std::int16_t> block(8000);
        for (int j = 0; j < 8000; ++j) block[j] = static_cast<std::int16_t>((j / (period / 2)) % 2 == 0 ? peak : -peak);
        world.StoreBlock(block.data(), 16000);
    }
    void FeedLoud() { FeedBlock(12000); }
    void FeedQuiet() { FeedBlock(1000); }

    World world;
    RecordingDevice* device = nullptr;
};
