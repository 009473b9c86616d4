// A test fixture with the installation's RenderDevice on the offscreen
// OpenGL window (640 x 480). Tests skip, with the reason, where no OpenGL
// context can be made; a fixture deriving from it checks `device` before
// its own set-up.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "render/RenderDevice.h"
#include "support/GlTestDevice.h"

namespace testsupport {

class OffscreenRenderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string reason;
        window = OffscreenGlWindow(&reason);
        if (window == nullptr) GTEST_SKIP() << "no OpenGL here: " << reason;
        ASSERT_TRUE(renderer.CreateDevice(window, 640, 480, false));
        device = renderer.Device();
    }
    void TearDown() override
    {
        if (device != nullptr) renderer.ReleaseAll();
    }

    HWND window = nullptr;
    RenderDevice renderer;
    IDirect3DDevice9* device = nullptr;
};

}  // namespace testsupport
