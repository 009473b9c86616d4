// The draw key decides where a batch ends: every state the OpenGL device
// draws with must change it, and states it ignores must not, or batches
// would break (and GL state be re-sent) for nothing.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/gl/GlDrawKey.h"

namespace {

struct KeyChange {
    std::string what;
    std::function<void(DeviceState&)> change;
};

DrawKey DrawKeyOf(const DeviceState& state, PrimitiveClass primitiveClass = kTriangles)
{
    DrawKey key;
    std::memset(&key, 0xA5, sizeof key);  // whatever the key held before must not matter
    BuildDrawKey(key, state, DescribeFvf(state.fvf), primitiveClass, false, false);
    return key;
}

DeviceState LitSceneState()
{
    DeviceState state;
    state.SetDefaults(640, 480, true);
    state.fvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1;
    state.renderStates[D3DRS_FOGENABLE] = TRUE;
    state.renderStates[D3DRS_FOGVERTEXMODE] = D3DFOG_LINEAR;
    state.lightEnabled[0] = TRUE;
    state.lightSet[0] = TRUE;
    state.lights[0].Type = D3DLIGHT_DIRECTIONAL;
    return state;
}

}  // namespace

TEST(GlDrawKey, ChangesWithEveryStateItDrawsWithAndNoOther)
{
    const DeviceState base = LitSceneState();
    const DrawKey baseKey = DrawKeyOf(base);
    EXPECT_TRUE(SameKey(baseKey, DrawKeyOf(base))) << "a pure function of the state";

    const std::vector<KeyChange> drawn = {
        {"depth test", [](DeviceState& s) { s.renderStates[D3DRS_ZENABLE] = D3DZB_FALSE; }},
        {"depth write", [](DeviceState& s) { s.renderStates[D3DRS_ZWRITEENABLE] = FALSE; }},
        {"culling", [](DeviceState& s) { s.renderStates[D3DRS_CULLMODE] = D3DCULL_NONE; }},
        {"blending", [](DeviceState& s) { s.renderStates[D3DRS_ALPHABLENDENABLE] = TRUE; }},
        {"ambient", [](DeviceState& s) { s.renderStates[D3DRS_AMBIENT] = 0x00202020; }},
        {"fog colour", [](DeviceState& s) { s.renderStates[D3DRS_FOGCOLOR] = 0x00FF0000; }},
        {"fog end", [](DeviceState& s) { s.renderStates[D3DRS_FOGEND] = FloatToDword(9.0f); }},
        {"colour operation", [](DeviceState& s) { s.stageStates[0][D3DTSS_COLOROP] = D3DTOP_SELECTARG2; }},
        {"world", [](DeviceState& s) { s.world._41 = 3.0f; }},
        {"view", [](DeviceState& s) { s.view._42 = 3.0f; }},
        {"projection", [](DeviceState& s) { s.projection._11 = 2.0f; }},
        {"material", [](DeviceState& s) { s.material.Diffuse.r = 0.5f; }},
        {"light", [](DeviceState& s) { s.lights[0].Direction.x = 1.0f; }},
        {"no light", [](DeviceState& s) { s.lightEnabled[0] = FALSE; }},
        {"vertex format", [](DeviceState& s) { s.fvf = D3DFVF_XYZ | D3DFVF_DIFFUSE; }},
        {"viewport", [](DeviceState& s) { s.viewport.Width = 320; }},
    };
    for (const KeyChange& c : drawn) {
        DeviceState changed = base;
        c.change(changed);
        EXPECT_FALSE(SameKey(baseKey, DrawKeyOf(changed))) << c.what;
    }

    const std::vector<KeyChange> ignored = {
        {"blend factor while blending is off", [](DeviceState& s) { s.renderStates[D3DRS_SRCBLEND] = D3DBLEND_ONE; }},
        {"alpha reference while the test is off", [](DeviceState& s) { s.renderStates[D3DRS_ALPHAREF] = 0x80; }},
        {"a second stage", [](DeviceState& s) { s.stageStates[1][D3DTSS_COLOROP] = D3DTOP_MODULATE; }},
        {"sampling without a texture", [](DeviceState& s) { s.samplerStates[0][D3DSAMP_MINFILTER] = D3DTEXF_POINT; }},
        {"point size of triangles", [](DeviceState& s) { s.renderStates[D3DRS_POINTSIZE] = FloatToDword(8.0f); }},
        {"a light that is off", [](DeviceState& s) { s.lights[3].Range = 5.0f; }},
    };
    for (const KeyChange& c : ignored) {
        DeviceState changed = base;
        c.change(changed);
        EXPECT_TRUE(SameKey(baseKey, DrawKeyOf(changed))) << c.what;
    }
}

TEST(GlDrawKey, PretransformedVerticesIgnoreTransformsAndLighting)
{
    DeviceState base = LitSceneState();
    base.fvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;
    const DrawKey baseKey = DrawKeyOf(base);
    DeviceState changed = base;
    changed.world._41 = 3.0f;
    changed.renderStates[D3DRS_AMBIENT] = 0x00202020;
    changed.material.Diffuse.r = 0.5f;
    EXPECT_TRUE(SameKey(baseKey, DrawKeyOf(changed)));

    // Points carry their size and sprite switch; other classes do not.
    changed = base;
    changed.renderStates[D3DRS_POINTSIZE] = FloatToDword(8.0f);
    EXPECT_FALSE(SameKey(DrawKeyOf(base, kPoints), DrawKeyOf(changed, kPoints)));
    EXPECT_FALSE(SameKey(DrawKeyOf(base, kPoints), DrawKeyOf(base, kLines)));
}
