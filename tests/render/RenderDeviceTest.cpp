// The render device against the recording backend: creation fall-backs,
// default states, the loss protocol and its debugger lines, release.
#include <gtest/gtest.h>

#include <ostream>

#include <cmath>
#include <string>
#include <vector>

#include "platform/d3d9/RecordingDevice.h"
#include "platform/d3d9/d3dx9.h"
#include "render/RenderDevice.h"
#include "support/DeviceTestSupport.h"

namespace {

// The Direct3D object of the last factory call, and the refusals it starts with.
RecordingDirect3D9* gLastDirect3D = nullptr;
std::vector<std::pair<D3DDEVTYPE, DWORD>> gRefusals;
bool gRefuseAll = false;

IDirect3D9* ConfiguredFactory(UINT sdkVersion)
{
    if (sdkVersion != D3D_SDK_VERSION) return nullptr;
    auto* d3d = new RecordingDirect3D9();
    for (auto& r : gRefusals) d3d->Refuse(r.first, r.second);
    if (gRefuseAll) d3d->RefuseAll();
    gLastDirect3D = d3d;
    return d3d;
}

IDirect3D9* NullFactory(UINT) { return nullptr; }

// Records the calls it receives into a shared log.
class LoggingResource : public DeviceResource {
public:
    LoggingResource(std::string name, std::vector<std::string>& log) : name_(std::move(name)), log_(log) {}
    bool OnDeviceLost(RenderDevice*) override
    {
        log_.push_back("lost " + name_);
        return true;
    }
    bool OnDeviceReset(RenderDevice*) override
    {
        log_.push_back("reset " + name_);
        return true;
    }

private:
    std::string name_;
    std::vector<std::string>& log_;
};

class RenderDeviceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        gRefusals.clear();
        gRefuseAll = false;
        gLastDirect3D = nullptr;
        renderer.SetDirect3DFactory(ConfiguredFactory);
    }

    RecordingDevice* Recording() const { return dynamic_cast<RecordingDevice*>(renderer.Device()); }

    // One frame's present and the recovery the scene runs after it.
    void PresentAndRecover()
    {
        IDirect3DDevice9* device = renderer.Device();
        if (device->Present(nullptr, nullptr, nullptr, nullptr) == D3DERR_DEVICELOST) {
            if (device->TestCooperativeLevel() == D3DERR_DEVICENOTRESET) {
                renderer.ResetDevice();
                renderer.Resize(window);
            }
        }
    }

    // Creates the device and lists `resource`, which logs what it is told.
    bool CreateWithLoggingResource()
    {
        if (!renderer.CreateDevice(window, 640, 480, false)) return false;
        renderer.Resources().Add(&resource);
        return true;
    }

    // Declared before the renderer, so that they outlive it.
    std::vector<std::string> log;
    LoggingResource resource{"r", log};
    RenderDevice renderer;
    HWND window = nullptr;
};

D3DXMATRIX Perspective640x480()
{
    D3DXMATRIX m;
    D3DXMatrixPerspectiveFovLH(&m, 0.7853982f, 640.0f / 480.0f, 1.0f, 1000.0f);
    return m;
}

TEST_F(RenderDeviceTest, CreatesOnFirstTryWithPerspectiveProjectionAndSurfaces)
{
    ASSERT_TRUE(renderer.CreateDevice(window, 640, 480, false));
    ASSERT_NE(gLastDirect3D, nullptr);
    ASSERT_EQ(gLastDirect3D->Attempts().size(), 1u);
    EXPECT_EQ(gLastDirect3D->Attempts()[0].first, D3DDEVTYPE_HAL);
    EXPECT_EQ(gLastDirect3D->Attempts()[0].second, D3DCREATE_HARDWARE_VERTEXPROCESSING);

    D3DMATRIX projection;
    renderer.Device()->GetTransform(D3DTS_PROJECTION, &projection);
    EXPECT_TRUE(D3DXMATRIX(projection) == Perspective640x480()) << "the orthographic projection was left in place";

    D3DVIEWPORT9 viewport;
    renderer.Device()->GetViewport(&viewport);
    EXPECT_EQ(viewport.Width, 640u);
    EXPECT_EQ(viewport.Height, 480u);
    EXPECT_NE(renderer.BackBuffer(), nullptr);
    EXPECT_NE(renderer.DepthStencil(), nullptr);

    const D3DPRESENT_PARAMETERS& pp = renderer.PresentParameters();
    EXPECT_EQ(pp.BackBufferFormat, D3DFMT_X8R8G8B8);
    EXPECT_EQ(pp.SwapEffect, D3DSWAPEFFECT_COPY);
    EXPECT_EQ(pp.AutoDepthStencilFormat, D3DFMT_D16);
    EXPECT_EQ(pp.Flags, D3DPRESENTFLAG_LOCKABLE_BACKBUFFER);
    EXPECT_EQ(pp.PresentationInterval, D3DPRESENT_INTERVAL_ONE);
}

TEST_F(RenderDeviceTest, AppliesTheDefaultPipelineState)
{
    ASSERT_TRUE(renderer.CreateDevice(window, 640, 480, false));
    const DeviceState& s = Recording()->State();
    testsupport::ExpectRenderStates(s, {{D3DRS_ZENABLE, D3DZB_TRUE}, {D3DRS_ALPHAFUNC, D3DCMP_GREATER},
                                        {D3DRS_AMBIENT, 0x888888u}, {D3DRS_LIGHTING, TRUE},
                                        {D3DRS_CULLMODE, D3DCULL_CCW}, {D3DRS_MULTISAMPLEMASK, 0x7FFFFFFFu},
                                        {D3DRS_SPECULARMATERIALSOURCE, D3DMCS_MATERIAL}, {D3DRS_FOGENABLE, TRUE},
                                        {D3DRS_FOGCOLOR, 0x000000FFu}, {D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR}});
    EXPECT_FLOAT_EQ(s.RenderStateFloat(D3DRS_FOGSTART), 110.0f);
    EXPECT_FLOAT_EQ(s.RenderStateFloat(D3DRS_FOGEND), 280.0f);
    EXPECT_EQ(s.RenderState(D3DRS_RANGEFOGENABLE), static_cast<DWORD>(TRUE));
    EXPECT_EQ(s.StageState(0, D3DTSS_COLORARG2), D3DTA_DIFFUSE);
    EXPECT_EQ(s.StageState(0, D3DTSS_ALPHAOP), static_cast<DWORD>(D3DTOP_DISABLE));
    EXPECT_EQ(s.SamplerState(0, D3DSAMP_MIPFILTER), static_cast<DWORD>(D3DTEXF_LINEAR));
    EXPECT_EQ(s.textures[0], nullptr);

    EXPECT_TRUE(s.lightEnabled[0]);
    EXPECT_EQ(s.lights[0].Type, D3DLIGHT_DIRECTIONAL);
    EXPECT_FLOAT_EQ(s.lights[0].Direction.y, -1.0f);
    EXPECT_FLOAT_EQ(s.lights[0].Ambient.r, 0.5f);
    EXPECT_FLOAT_EQ(s.material.Ambient.r, 0.1f);
    EXPECT_FLOAT_EQ(s.material.Power, 10.0f);

    // The camera looks from (0, 120, -120) at the origin.
    D3DXMATRIX view(s.view);
    D3DXVECTOR3 eye(0.0f, 120.0f, -120.0f), origin(0.0f, 0.0f, 0.0f), out;
    D3DXVec3TransformCoord(&out, &eye, &view);
    EXPECT_NEAR(D3DXVec3Length(&out), 0.0f, 1e-4f);
    D3DXVec3TransformCoord(&out, &origin, &view);
    EXPECT_NEAR(out.x, 0.0f, 1e-4f);
    EXPECT_NEAR(out.y, 0.0f, 1e-4f);
    EXPECT_NEAR(out.z, 120.0f * std::sqrt(2.0f), 1e-3f);
}

TEST_F(RenderDeviceTest, FallsBackToMixedProcessingWhenHardwareIsRefused)
{
    gRefusals = {{D3DDEVTYPE_HAL, D3DCREATE_HARDWARE_VERTEXPROCESSING}};
    ASSERT_TRUE(renderer.CreateDevice(window, 640, 480, false));
    ASSERT_EQ(gLastDirect3D->Attempts().size(), 2u);
    EXPECT_EQ(gLastDirect3D->Attempts()[1].first, D3DDEVTYPE_HAL);
    EXPECT_EQ(gLastDirect3D->Attempts()[1].second, D3DCREATE_MIXED_VERTEXPROCESSING);
}

TEST_F(RenderDeviceTest, TriesAllNineCombinationsInOrderThenFails)
{
    gRefuseAll = true;
    EXPECT_FALSE(renderer.CreateDevice(window, 640, 480, false));
    const std::vector<std::pair<D3DDEVTYPE, DWORD>> expected = {
        {D3DDEVTYPE_HAL, 0x40}, {D3DDEVTYPE_HAL, 0x80}, {D3DDEVTYPE_HAL, 0x20},
        {D3DDEVTYPE_REF, 0x40}, {D3DDEVTYPE_REF, 0x80}, {D3DDEVTYPE_REF, 0x20},
        {D3DDEVTYPE_SW, 0x40},  {D3DDEVTYPE_SW, 0x80},  {D3DDEVTYPE_SW, 0x20},
    };
    EXPECT_EQ(gLastDirect3D->Attempts(), expected);
    EXPECT_EQ(renderer.Device(), nullptr);
}

TEST_F(RenderDeviceTest, FailsWithoutAnEntryPointOrDirect3DObject)
{
    RenderDevice noEntry;
    noEntry.SetDirect3DFactory(nullptr);
    EXPECT_FALSE(noEntry.CreateDevice(window, 640, 480, false));
    RenderDevice noObject;
    noObject.SetDirect3DFactory(NullFactory);
    EXPECT_FALSE(noObject.CreateDevice(window, 640, 480, false));
}

TEST_F(RenderDeviceTest, WindowedModeStillUsesTheLogicalBackBuffer)
{
    ASSERT_TRUE(renderer.CreateDevice(window, 640, 480, true));
    EXPECT_EQ(renderer.PresentParameters().Windowed, TRUE);
    EXPECT_EQ(renderer.PresentParameters().BackBufferWidth, 640u);
    EXPECT_EQ(renderer.PresentParameters().BackBufferHeight, 480u);
}

TEST_F(RenderDeviceTest, LossProtocolResetsAndTellsResourcesInListOrder)
{
    ASSERT_TRUE(renderer.CreateDevice(window, 640, 480, false));
    LoggingResource first("first", log), second("second", log);
    renderer.Resources().Add(&first);
    renderer.Resources().Add(&second);

    RecordingDevice* device = Recording();
    const int resetsBefore = device->Calls().resets;
    // A state the reset must wipe.
    device->SetRenderState(D3DRS_FOGENABLE, FALSE);
    device->SimulateLoss(D3DERR_DEVICELOST, D3DERR_DEVICENOTRESET);
    EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
    EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    renderer.ResetDevice();
    renderer.Resize(window);

    // ResetDevice, then Resize resets once more.
    EXPECT_EQ(device->Calls().resets - resetsBefore, 2);
    const std::vector<std::string> expected = {"lost first", "lost second", "reset first", "reset second",
                                               "lost first", "lost second", "reset first", "reset second"};
    EXPECT_EQ(log, expected);
    EXPECT_EQ(device->TestCooperativeLevel(), D3D_OK);
    EXPECT_EQ(device->State().RenderState(D3DRS_FOGENABLE), static_cast<DWORD>(TRUE));
    D3DMATRIX projection;
    device->GetTransform(D3DTS_PROJECTION, &projection);
    EXPECT_TRUE(D3DXMATRIX(projection) == Perspective640x480());
    EXPECT_NE(renderer.BackBuffer(), nullptr);
    EXPECT_NE(renderer.DepthStencil(), nullptr);
}

TEST_F(RenderDeviceTest, DeviceStillLostLeavesItAloneUntilALaterFrame)
{
    ASSERT_TRUE(CreateWithLoggingResource());
    RecordingDevice* device = Recording();
    const int resetsBefore = device->Calls().resets;

    device->SimulateLoss(D3DERR_DEVICELOST, D3DERR_DEVICELOST);
    PresentAndRecover();
    EXPECT_EQ(device->Calls().resets, resetsBefore);
    EXPECT_TRUE(log.empty());

    // The device can be reset now; the next lost present recovers.
    device->SimulateLoss(D3DERR_DEVICELOST, D3DERR_DEVICENOTRESET);
    PresentAndRecover();
    EXPECT_EQ(device->Calls().resets, resetsBefore + 2);
    EXPECT_EQ(device->TestCooperativeLevel(), D3D_OK);
}

struct ResetFailureCase {
    HRESULT code;
    const char* text;
};

// Printed by its code, so test names do not carry addresses.
void PrintTo(const ResetFailureCase& value, std::ostream* out)
{
    *out << "0x" << std::hex << static_cast<std::uint32_t>(value.code);
}

class ResetFailureTest : public RenderDeviceTest, public ::testing::WithParamInterface<ResetFailureCase> {};

TEST_P(ResetFailureTest, WritesTheDebuggerLineAndLeavesSurfacesNull)
{
    ASSERT_TRUE(CreateWithLoggingResource());

    Recording()->FailNextReset(GetParam().code);
    ::testing::internal::CaptureStderr();
    bool result = renderer.ResetDevice();
    std::string written = ::testing::internal::GetCapturedStderr();

    EXPECT_FALSE(result);
    EXPECT_EQ(written, GetParam().text);
    EXPECT_EQ(renderer.BackBuffer(), nullptr);
    EXPECT_EQ(renderer.DepthStencil(), nullptr);
    // Told of the loss, not of a reset that did not happen.
    EXPECT_EQ(log, std::vector<std::string>{"lost r"});

    // The next successful reset brings everything back.
    EXPECT_TRUE(renderer.ResetDevice());
    EXPECT_NE(renderer.BackBuffer(), nullptr);
    EXPECT_EQ(log.back(), "reset r");
}

INSTANTIATE_TEST_SUITE_P(Codes, ResetFailureTest,
                         ::testing::Values(ResetFailureCase{D3DERR_INVALIDCALL, "D3DERR_INVALIDCALL\n"},
                                           ResetFailureCase{D3DERR_DEVICELOST, "D3DERR_DEVICELOST\n"},
                                           ResetFailureCase{D3DERR_DRIVERINTERNALERROR,
                                                            "D3DERR_DRIVERINTERNALERROR\n"},
                                           ResetFailureCase{D3DERR_OUTOFVIDEOMEMORY, "D3DERR_OUTOFVIDEOMEMORY\n"},
                                           ResetFailureCase{E_OUTOFMEMORY, "E_OUTOFMEMORY\n"},
                                           ResetFailureCase{E_FAIL, ""}),
                         // Named after the line written, so the names stay the same from run to run.
                         [](const ::testing::TestParamInfo<ResetFailureCase>& param) {
                             std::string name = param.param.text;
                             if (!name.empty() && name.back() == '\n') name.pop_back();
                             return name.empty() ? std::string("Silent") : name;
                         });

TEST_F(RenderDeviceTest, FailedSurfaceFetchFailsTheResetWithoutTellingResources)
{
    ASSERT_TRUE(CreateWithLoggingResource());
    Recording()->FailDepthStencil(D3DERR_NOTAVAILABLE);
    EXPECT_FALSE(renderer.ResetDevice());
    EXPECT_EQ(renderer.DepthStencil(), nullptr);
    EXPECT_EQ(log, std::vector<std::string>{"lost r"});
}

TEST_F(RenderDeviceTest, EmptyResourceListResetsAndReleases)
{
    ASSERT_TRUE(renderer.CreateDevice(window, 640, 480, false));
    EXPECT_TRUE(renderer.ResetDevice());
    renderer.ReleaseAll();
    EXPECT_EQ(renderer.Device(), nullptr);
}

TEST_F(RenderDeviceTest, ReleaseAllTwiceIsHarmlessAndKeepsResourcesAlive)
{
    ASSERT_TRUE(CreateWithLoggingResource());
    renderer.ReleaseAll();
    renderer.ReleaseAll();
    EXPECT_EQ(renderer.Device(), nullptr);
    EXPECT_EQ(renderer.Direct3D(), nullptr);
    EXPECT_EQ(renderer.BackBuffer(), nullptr);
    EXPECT_EQ(renderer.DepthStencil(), nullptr);
    EXPECT_EQ(renderer.Resources().Count(), 0);
    // A reset without a device only tells of the loss (none listed now) and fails.
    EXPECT_FALSE(renderer.ResetDevice());
    EXPECT_TRUE(log.empty());
}

}  // namespace
