// A test fixture for whole-application runs: the system started as the
// program starts it, headless, on the virtual clock (--fast), with the
// source tree's data folder. Tests set the rest of `options`.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "app/Options.h"
#include "platform/system/System.h"

namespace testsupport {

class HeadlessRunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(platform::StartSystem(error)) << error;
        options.headless = true;
        options.fast = true;
        options.dataDir = std::string(SOLVANE_SOURCE_DIR) + "/data";
    }
    void TearDown() override { platform::StopSystem(); }

    Options options;
};

}  // namespace testsupport
