// The ground square: its four corners, and its texture, which may be missing.
#include <gtest/gtest.h>

#include "scenery/Ground.h"
#include "support/DeviceTestSupport.h"
#include "support/XFileWriter.h"

namespace {

TEST(Ground, FillsItsCornersAndLoadsItsTexture)
{
    testsupport::Ref<RecordingDevice> device(testsupport::NewRecordingDevice());
    Ground ground;
    ASSERT_TRUE(ground.Create(device.get(), std::string(SOLVANE_SOURCE_DIR) + "/data"));
    EXPECT_NE(ground.texture, nullptr);
    const GroundVertex expected[4] = {{-100, 0, -100, 0xFFFFFFFFu, 0, 1},
                                      {100, 0, -100, 0xFFFFFFFFu, 1, 1},
                                      {100, 0, 100, 0xFFFFFFFFu, 1, 0},
                                      {-100, 0, 100, 0xFFFFFFFFu, 0, 0}};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(ground.corners[i].x, expected[i].x);
        EXPECT_EQ(ground.corners[i].y, 0.0f);
        EXPECT_EQ(ground.corners[i].z, expected[i].z);
        EXPECT_EQ(ground.corners[i].diffuse, 0xFFFFFFFFu);
        EXPECT_EQ(ground.corners[i].u, expected[i].u);
        EXPECT_EQ(ground.corners[i].v, expected[i].v);
    }
}

TEST(Ground, AMissingPictureIsNoError)
{
    testsupport::Ref<RecordingDevice> device(testsupport::NewRecordingDevice());
    testsupport::TempFolder empty;
    Ground ground;
    EXPECT_TRUE(ground.Create(device.get(), empty.Path()));
    EXPECT_EQ(ground.texture, nullptr);
    EXPECT_EQ(ground.corners[2].x, 100.0f);
}

}  // namespace
