// Building a draw key from the device state; see GlDrawKey.h.
#include "platform/gl/GlDrawKey.h"

#include <cmath>

#include "platform/d3d9/Matrices.h"
#include "platform/d3d9/MemoryTexture.h"

namespace {

// An affine matrix whose 3 x 3 part is orthonormal (turns and mirrors): its
// normal matrix is that part itself.
bool IsRigid(const D3DMATRIX& m)
{
    constexpr float kTolerance = 1e-4f;
    if (m._14 != 0.0f || m._24 != 0.0f || m._34 != 0.0f || m._44 != 1.0f) return false;
    for (int a = 0; a < 3; ++a)
        for (int b = a; b < 3; ++b) {
            const float dot = m.m[a][0] * m.m[b][0] + m.m[a][1] * m.m[b][1] + m.m[a][2] * m.m[b][2];
            if (std::fabs(dot - (a == b ? 1.0f : 0.0f)) > kTolerance) return false;
        }
    return true;
}

}  // namespace

void SetPointFields(DrawKey& k, const DeviceState& state, const VertexLayout& layout, bool fromBuffers)
{
    if (k.primitiveClass != kPoints) {
        k.pointSprite = k.hasPointSize = 0;
        k.pointSize = k.pointSizeMin = FloatToDword(1.0f);
        return;
    }
    k.pointSprite = state.RenderState(D3DRS_POINTSPRITEENABLE) != FALSE;
    k.hasPointSize = fromBuffers && layout.pointSizeOffset >= 0;
    k.pointSize = state.RenderState(D3DRS_POINTSIZE);
    k.pointSizeMin = state.RenderState(D3DRS_POINTSIZE_MIN);
}

void BuildDrawKey(DrawKey& k, const DeviceState& s, const VertexLayout& layout, PrimitiveClass primitiveClass,
                  bool instanced, bool fromBuffers)
{
    std::memset(&k, 0, sizeof k);
    k.primitiveClass = primitiveClass;
    k.instanced = instanced;
    SetPointFields(k, s, layout, fromBuffers);
    k.pretransformed = layout.pretransformed;
    k.hasNormal = layout.normalOffset >= 0;
    k.hasDiffuse = layout.diffuseOffset >= 0;
    k.hasSpecular = layout.specularOffset >= 0;
    k.hasTexCoord = layout.texCount > 0;
    k.zEnable = s.RenderState(D3DRS_ZENABLE) != D3DZB_FALSE;
    k.zWrite = k.zEnable && s.RenderState(D3DRS_ZWRITEENABLE) != FALSE;
    k.zFunc = s.RenderState(D3DRS_ZFUNC);
    k.cullMode = s.RenderState(D3DRS_CULLMODE);
    k.blendEnable = s.RenderState(D3DRS_ALPHABLENDENABLE) != FALSE;
    if (k.blendEnable) {
        k.srcBlend = s.RenderState(D3DRS_SRCBLEND);
        k.destBlend = s.RenderState(D3DRS_DESTBLEND);
        k.blendOp = s.RenderState(D3DRS_BLENDOP);
    }
    k.alphaTest = s.RenderState(D3DRS_ALPHATESTENABLE) != FALSE;
    if (k.alphaTest) {
        k.alphaRef = s.RenderState(D3DRS_ALPHAREF) & 0xFF;
        k.alphaFunc = s.RenderState(D3DRS_ALPHAFUNC);
    }
    k.colourWrite = s.RenderState(D3DRS_COLORWRITEENABLE) & 0xF;
    // Lighting only matters for transformed vertices.
    k.lighting = !k.pretransformed && s.RenderState(D3DRS_LIGHTING) != FALSE;
    if (k.lighting) {
        k.ambient = s.RenderState(D3DRS_AMBIENT);
        k.colourVertex = s.RenderState(D3DRS_COLORVERTEX) != FALSE;
        k.diffuseSource = s.RenderState(D3DRS_DIFFUSEMATERIALSOURCE);
        k.ambientSource = s.RenderState(D3DRS_AMBIENTMATERIALSOURCE);
        k.specularSource = s.RenderState(D3DRS_SPECULARMATERIALSOURCE);
        k.emissiveSource = s.RenderState(D3DRS_EMISSIVEMATERIALSOURCE);
        k.normalizeNormals = s.RenderState(D3DRS_NORMALIZENORMALS) != FALSE;
        k.localViewer = s.RenderState(D3DRS_LOCALVIEWER) != FALSE;
        k.material = s.material;
        k.lightIndex = -1;
        for (unsigned i = 0; i < DeviceState::kLights; ++i) {
            if (s.lightEnabled[i]) {
                k.lightIndex = static_cast<std::int32_t>(i);
                k.light = s.lights[i];
                break;
            }
        }
    }
    k.specularEnable = s.RenderState(D3DRS_SPECULARENABLE) != FALSE;
    k.fogOn = s.RenderState(D3DRS_FOGENABLE) != FALSE;
    if (k.fogOn) {
        k.fogColour = s.RenderState(D3DRS_FOGCOLOR);
        if (k.pretransformed || s.RenderState(D3DRS_FOGVERTEXMODE) == D3DFOG_NONE) {
            // Without vertex fog the factor comes from the specular alpha, when there is one.
            k.fogMode = k.hasSpecular ? 3 : 0;
        } else {
            k.fogMode = s.RenderState(D3DRS_RANGEFOGENABLE) ? 2 : 1;
            k.fogStart = s.RenderState(D3DRS_FOGSTART);
            k.fogEnd = s.RenderState(D3DRS_FOGEND);
        }
        if (k.fogMode == 0) k.fogOn = 0;
    }
    k.textureFactor = s.RenderState(D3DRS_TEXTUREFACTOR);
    k.colourOp = s.StageState(0, D3DTSS_COLOROP);
    k.colourArg1 = s.StageState(0, D3DTSS_COLORARG1);
    k.colourArg2 = s.StageState(0, D3DTSS_COLORARG2);
    k.alphaOp = s.StageState(0, D3DTSS_ALPHAOP);
    k.alphaArg1 = s.StageState(0, D3DTSS_ALPHAARG1);
    k.alphaArg2 = s.StageState(0, D3DTSS_ALPHAARG2);
    // Texture coordinates made from the camera-space normal, and their transform.
    if (!k.pretransformed && (s.StageState(0, D3DTSS_TEXCOORDINDEX) & 0xFFFF0000u) == D3DTSS_TCI_CAMERASPACENORMAL) {
        k.texGen = 1;
        if (s.StageState(0, D3DTSS_TEXTURETRANSFORMFLAGS) != D3DTTFF_DISABLE) {
            k.texTransform = 1;
            k.textureMatrix = s.texture0;
        }
    }
    k.texture = static_cast<MemoryTexture*>(s.textures[0]);
    if (k.texture != nullptr) {
        k.textureVersion = k.texture->Version();
        k.addressU = s.SamplerState(0, D3DSAMP_ADDRESSU);
        k.addressV = s.SamplerState(0, D3DSAMP_ADDRESSV);
        k.minFilter = s.SamplerState(0, D3DSAMP_MINFILTER);
        k.magFilter = s.SamplerState(0, D3DSAMP_MAGFILTER);
        k.mipFilter = s.SamplerState(0, D3DSAMP_MIPFILTER);
    }
    if (!k.pretransformed) {
        k.world = s.world;
        k.view = s.view;
        k.projection = s.projection;
        // NOTE: immediate draws carry no matrix indices, so theirs read as 0: D3DTS_WORLD.
        if (s.BlendsByIndex() && layout.blendIndexOffset >= 0) {
            std::memcpy(k.moreWorlds, s.moreWorlds, sizeof k.moreWorlds);
            k.blendByIndex = 1;
            for (unsigned i = 0; i < DeviceState::kWorldMatrices && k.blendByIndex == 1; ++i)
                if (!IsRigid(MultiplyMatrices(s.WorldMatrix(i), s.view))) k.blendByIndex = 2;
        }
    }
    k.viewport = s.viewport;
}
