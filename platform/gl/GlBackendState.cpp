// The OpenGL back end's state for a draw: a key's states, program,
// uniforms and texture, brought to the driver through the state cache.
#include "platform/gl/GlBackend.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/d3d9/Matrices.h"

namespace {

GLenum CompareFunction(DWORD f)
{
    switch (f) {
    case D3DCMP_NEVER: return GL_NEVER;
    case D3DCMP_LESS: return GL_LESS;
    case D3DCMP_EQUAL: return GL_EQUAL;
    case D3DCMP_LESSEQUAL: return GL_LEQUAL;
    case D3DCMP_GREATER: return GL_GREATER;
    case D3DCMP_NOTEQUAL: return GL_NOTEQUAL;
    case D3DCMP_GREATEREQUAL: return GL_GEQUAL;
    default: return GL_ALWAYS;
    }
}

GLenum BlendFactor(DWORD b)
{
    switch (b) {
    case D3DBLEND_ZERO: return GL_ZERO;
    case D3DBLEND_ONE: return GL_ONE;
    case D3DBLEND_SRCCOLOR: return GL_SRC_COLOR;
    case D3DBLEND_INVSRCCOLOR: return GL_ONE_MINUS_SRC_COLOR;
    case D3DBLEND_SRCALPHA: return GL_SRC_ALPHA;
    case D3DBLEND_INVSRCALPHA: return GL_ONE_MINUS_SRC_ALPHA;
    case D3DBLEND_DESTALPHA: return GL_DST_ALPHA;
    case D3DBLEND_INVDESTALPHA: return GL_ONE_MINUS_DST_ALPHA;
    case D3DBLEND_DESTCOLOR: return GL_DST_COLOR;
    case D3DBLEND_INVDESTCOLOR: return GL_ONE_MINUS_DST_COLOR;
    case D3DBLEND_SRCALPHASAT: return GL_SRC_ALPHA_SATURATE;
    default: return GL_ONE;
    }
}

GLenum BlendEquation(DWORD op)
{
    switch (op) {
    case D3DBLENDOP_SUBTRACT: return GL_FUNC_SUBTRACT;
    case D3DBLENDOP_REVSUBTRACT: return GL_FUNC_REVERSE_SUBTRACT;
    case D3DBLENDOP_MIN: return GL_MIN;
    case D3DBLENDOP_MAX: return GL_MAX;
    default: return GL_FUNC_ADD;
    }
}

GLint WrapMode(DWORD a)
{
    switch (a) {
    case D3DTADDRESS_MIRROR: return GL_MIRRORED_REPEAT;
    case D3DTADDRESS_CLAMP:
    case D3DTADDRESS_BORDER: return GL_CLAMP_TO_EDGE;  // no border colour in GLES 3.0
    default: return GL_REPEAT;
    }
}

GLint MinFilter(DWORD min, DWORD mip)
{
    const bool linear = min != D3DTEXF_POINT && min != D3DTEXF_NONE;
    if (mip == D3DTEXF_NONE) return linear ? GL_LINEAR : GL_NEAREST;
    if (mip == D3DTEXF_POINT) return linear ? GL_LINEAR_MIPMAP_NEAREST : GL_NEAREST_MIPMAP_NEAREST;
    return linear ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST_MIPMAP_LINEAR;
}

// The inverse transpose of the upper 3x3 (row-major, row vectors), which
// turns normals the way the matrix turns surfaces.
void NormalMatrix(const D3DMATRIX& m, float out[9])
{
    const double a = m._11, b = m._12, c = m._13, d = m._21, e = m._22, f = m._23, g = m._31, h = m._32, i = m._33;
    const double A = e * i - f * h, B = -(d * i - f * g), C = d * h - e * g;
    const double D = -(b * i - c * h), E = a * i - c * g, F = -(a * h - b * g);
    const double G = b * f - c * e, H = -(a * f - c * d), I = a * e - b * d;
    double det = a * A + b * B + c * C;
    if (std::fabs(det) < 1e-30) det = 1.0;
    // inverse = adjugate / det, adjugate = cofactor matrix transposed; its transpose is the cofactor matrix.
    const double cof[9] = {A, B, C, D, E, F, G, H, I};
    for (int k = 0; k < 9; ++k) out[k] = static_cast<float>(cof[k] / det);
}

}  // namespace

void GlBackend::ColourValue(D3DCOLOR c, float out[4])
{
    out[0] = static_cast<float>((c >> 16) & 0xFF) / 255.0f;
    out[1] = static_cast<float>((c >> 8) & 0xFF) / 255.0f;
    out[2] = static_cast<float>(c & 0xFF) / 255.0f;
    out[3] = static_cast<float>((c >> 24) & 0xFF) / 255.0f;
}

// ---------------------------------------------------------------------------
// Textures and buffers

void GlBackend::DropTexture(MemoryTexture* texture)
{
    // A key naming a dead texture must never match a new one at the same address.
    if (appliedKey_.texture == texture) appliedValid_ = false;
    if (textures_.erase(texture) == 0) return;
    if (texture->gpu.name != 0) {
        state_.ForgetTexture(texture->gpu.name);
        glDeleteTextures(1, &texture->gpu.name);
    }
    texture->gpu = MemoryTexture::GpuLink{};
}

void GlBackend::BindTexture(const DrawKey& key)
{
    MemoryTexture* texture = key.texture;
    if (texture == nullptr) {
        state_.BindTexture(0, 0);
        return;
    }
    const bool uploading = texture->gpu.name == 0 || texture->gpu.uploadedVersion != texture->Version();
    const bool rebinding = state_.BoundTexture(0) != texture->gpu.name || texture->gpu.name == 0;
    if (uploading || rebinding) ++stats_.textureBinds;
    Upload(texture);
    state_.BindTexture(0, texture->gpu.name);
    state_.TextureParameters(0, WrapMode(key.addressU), WrapMode(key.addressV), MinFilter(key.minFilter, key.mipFilter),
                             key.magFilter == D3DTEXF_POINT || key.magFilter == D3DTEXF_NONE ? GL_NEAREST : GL_LINEAR);
}

void GlBackend::Adopt(MemoryTexture* texture)
{
    if (texture->gpu.cache == &textureOwner_) return;
    if (texture->gpu.cache != nullptr) texture->gpu.cache->Forget(texture);
    texture->gpu = MemoryTexture::GpuLink{};
    texture->gpu.cache = &textureOwner_;
    textures_.insert(texture);
}

void GlBackend::Upload(MemoryTexture* texture)
{
    Adopt(texture);
    if (texture->gpu.name == 0) {
        glGenTextures(1, &texture->gpu.name);
        state_.BindTexture(0, texture->gpu.name);
        // Texels are stored B, G, R, A in memory; swizzling avoids a
        // conversion and the BGRA upload format that GLES lacks.
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_R, GL_BLUE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_B, GL_RED);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_A,
                        texture->Format() == D3DFMT_X8R8G8B8 ? GL_ONE : GL_ALPHA);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_BASE_LEVEL, 0);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, static_cast<GLint>(texture->GetLevelCount() - 1));
        glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
        for (UINT level = 0; level < texture->GetLevelCount(); ++level)
            glTexImage2D(GL_TEXTURE_2D, static_cast<GLint>(level), GL_RGBA8,
                         static_cast<GLsizei>(texture->Width(level)), static_cast<GLsizei>(texture->Height(level)), 0,
                         GL_RGBA, GL_UNSIGNED_BYTE, texture->Texels(level));
        texture->MarkUnchanged();
        texture->gpu.uploadedVersion = texture->Version();
        return;
    }
    if (texture->gpu.uploadedVersion == texture->Version()) return;
    state_.BindTexture(0, texture->gpu.name);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    RECT changed{};
    if (texture->GetLevelCount() == 1 && texture->ChangedRect(changed)) {
        // Only the texels written since: one picture's cell of an atlas.
        glPixelStorei(GL_UNPACK_ROW_LENGTH, static_cast<GLint>(texture->Width(0)));
        glTexSubImage2D(GL_TEXTURE_2D, 0, changed.left, changed.top, changed.right - changed.left,
                        changed.bottom - changed.top, GL_RGBA, GL_UNSIGNED_BYTE,
                        texture->Texels(0) + static_cast<std::size_t>(changed.top) * texture->Width(0) + changed.left);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
        texture->MarkUnchanged();
        texture->gpu.uploadedVersion = texture->Version();
        return;
    }
    for (UINT level = 0; level < texture->GetLevelCount(); ++level)
        glTexSubImage2D(GL_TEXTURE_2D, static_cast<GLint>(level), 0, 0, static_cast<GLsizei>(texture->Width(level)),
                        static_cast<GLsizei>(texture->Height(level)), GL_RGBA, GL_UNSIGNED_BYTE,
                        texture->Texels(level));
    texture->MarkUnchanged();
    texture->gpu.uploadedVersion = texture->Version();
}

// ---------------------------------------------------------------------------
// State

void GlBackend::UseProgramFor(const DrawKey& k)
{
    const bool lightOn = k.lighting && k.lightIndex >= 0 && k.light.Type == D3DLIGHT_DIRECTIONAL;
    char defines[1024];
    std::snprintf(defines, sizeof defines,
                  "#define uPretransformed %u\n#define uHasNormal %u\n#define uHasDiffuse %u\n"
                  "#define uHasSpecular %u\n#define uLighting %u\n#define uColorVertex %u\n"
                  "#define uMaterialSource ivec4(%u, %u, %u, %u)\n#define uLightOn %d\n"
                  "#define uSpecularEnable %u\n#define uNormalizeNormals %u\n#define uLocalViewer %u\n"
                  "#define uFogMode %u\n#define uInstanced %u\n#define uTexGen %u\n#define uTexTransform %u\n"
                  "#define uHasTexture %d\n#define uColourStage ivec3(%u, %u, %u)\n"
                  "#define uAlphaStage ivec3(%u, %u, %u)\n#define uFogOn %u\n#define uAlphaTest %u\n"
                  "#define uAlphaFunc %u\n#define uPointSprite %u\n#define uHasPointSize %u\n#define uBlendByIndex %u\n",
                  k.pretransformed, k.hasNormal, k.hasDiffuse, k.hasSpecular, k.lighting,
                  k.lighting ? k.colourVertex : 0u, k.lighting ? k.diffuseSource : 0u,
                  k.lighting ? k.ambientSource : 0u, k.lighting ? k.specularSource : 0u,
                  k.lighting ? k.emissiveSource : 0u, lightOn ? 1 : 0, k.specularEnable,
                  k.lighting ? k.normalizeNormals : 0u, k.lighting ? k.localViewer : 0u, k.fogOn ? k.fogMode : 0u,
                  k.instanced, k.texGen, k.texTransform, k.texture != nullptr ? 1 : 0, k.colourOp, k.colourArg1,
                  k.colourArg2, k.alphaOp, k.alphaArg1, k.alphaArg2, k.fogOn, k.alphaTest,
                  k.alphaTest ? k.alphaFunc : 0u, k.pointSprite, k.hasPointSize, k.blendByIndex);
    if (program_ == nullptr || switches_ != defines) {
        program_ = &programs_.For(defines);
        switches_ = defines;
    }
    state_.UseProgram(program_->name);
}

void GlBackend::ApplyBlendMatrices(const DrawKey& k, const D3DMATRIX& firstWorldView)
{
    const GlUniforms& u = program_->uniforms;
    for (unsigned i = 0; i < DeviceState::kWorldMatrices; ++i) {
        const D3DMATRIX worldView = i == 0 ? firstWorldView : MultiplyMatrices(k.moreWorlds[i - 1], k.view);
        // Column j of the shader's 4 x 3 matrix is row j of Direct3D's, less its fourth element.
        float packed[12];
        for (int row = 0; row < 4; ++row)
            for (int column = 0; column < 3; ++column) packed[row * 3 + column] = worldView.m[row][column];
        state_.UniformMatrix4x3fv(u.worldViews[i], packed);
        if (k.blendByIndex == 2) {
            float normal[9];
            NormalMatrix(worldView, normal);
            state_.UniformMatrix3fv(u.normalMatrices[i], normal);
        }
    }
}

void GlBackend::ApplyKey(const DrawKey& k)
{
    UseProgramFor(k);
    const GlUniforms& u = program_->uniforms;

    // Fixed-function GL state.
    state_.Capability(GL_DEPTH_TEST, k.zEnable != 0);
    if (k.zEnable) state_.DepthFunc(CompareFunction(k.zFunc));
    state_.DepthMask(k.zWrite != 0);
    // Direct3D names the winding of the faces to drop as seen on the screen;
    // OpenGL's counter-clockwise front faces are the same faces.
    if (k.cullMode == D3DCULL_NONE || k.primitiveClass != kTriangles) {
        state_.Capability(GL_CULL_FACE, false);
    } else {
        state_.Capability(GL_CULL_FACE, true);
        state_.FrontFace(GL_CCW);
        state_.CullFace(k.cullMode == D3DCULL_CCW ? GL_FRONT : GL_BACK);
    }
    state_.Capability(GL_BLEND, k.blendEnable != 0);
    if (k.blendEnable) {
        state_.BlendFunc(BlendFactor(k.srcBlend), BlendFactor(k.destBlend));
        state_.BlendEquation(BlendEquation(k.blendOp));
    }
    state_.ColourMask((k.colourWrite & 1) != 0, (k.colourWrite & 2) != 0, (k.colourWrite & 4) != 0,
                      (k.colourWrite & 8) != 0);
    const D3DVIEWPORT9& vp = k.viewport;
    const GLint viewportLeft = static_cast<GLint>(vp.X);
    const GLint viewportBottom = static_cast<GLint>(height_) - static_cast<GLint>(vp.Y + vp.Height);
    // NOTE: OpenGL drops a whole point whose centre leaves the view, where a
    // square would show its inner part. Point sprites are therefore drawn
    // into a view widened by a band as wide as the largest point's half (the
    // vertex stage shrinks their positions to match), and the scissor keeps
    // them inside the real one.
    const GLint band = k.pointSprite ? kPointGuardBand : 0;
    state_.Viewport(viewportLeft - band, viewportBottom - band, static_cast<GLsizei>(vp.Width) + 2 * band,
                    static_cast<GLsizei>(vp.Height) + 2 * band);
    state_.Capability(GL_SCISSOR_TEST, band > 0);
    if (band > 0)
        state_.Scissor(viewportLeft, viewportBottom, static_cast<GLsizei>(vp.Width), static_cast<GLsizei>(vp.Height));
    state_.DepthRange(vp.MinZ, vp.MaxZ);
    BindTexture(k);

    // Vertex stage.
    state_.Uniform1i(u.pretransformed, static_cast<GLint>(k.pretransformed));
    const float viewport[4] = {static_cast<float>(vp.X), static_cast<float>(vp.Y),
                               static_cast<float>(std::max<DWORD>(vp.Width, 1)),
                               static_cast<float>(std::max<DWORD>(vp.Height, 1))};
    state_.Uniform4fv(u.viewport, viewport);
    state_.Uniform2f(u.guardScale, viewport[2] / (viewport[2] + 2.0f * static_cast<float>(band)),
                     viewport[3] / (viewport[3] + 2.0f * static_cast<float>(band)));
    if (!k.pretransformed) {
        const D3DMATRIX worldView = MultiplyMatrices(k.world, k.view);
        state_.UniformMatrix4fv(u.worldView, &worldView.m[0][0]);
        state_.UniformMatrix4fv(u.projection, &k.projection.m[0][0]);
        float normal[9];
        NormalMatrix(worldView, normal);
        state_.UniformMatrix3fv(u.normalMatrix, normal);
        state_.Uniform1i(u.blendByIndex, static_cast<GLint>(k.blendByIndex));
        if (k.blendByIndex != 0) ApplyBlendMatrices(k, worldView);
        if (k.lighting && k.lightIndex >= 0) {
            // The light travels the same way in every point; turn it into view space.
            const D3DVECTOR& d = k.light.Direction;
            const D3DMATRIX& v = k.view;
            float lx = d.x * v._11 + d.y * v._21 + d.z * v._31;
            float ly = d.x * v._12 + d.y * v._22 + d.z * v._32;
            float lz = d.x * v._13 + d.y * v._23 + d.z * v._33;
            const float length = std::sqrt(lx * lx + ly * ly + lz * lz);
            if (length > 0.0f) lx /= length, ly /= length, lz /= length;
            state_.Uniform3f(u.lightDirection, lx, ly, lz);
        }
    }
    state_.Uniform1i(u.hasNormal, static_cast<GLint>(k.hasNormal));
    state_.Uniform1i(u.hasDiffuse, static_cast<GLint>(k.hasDiffuse));
    state_.Uniform1i(u.hasSpecular, static_cast<GLint>(k.hasSpecular));
    state_.Uniform1i(u.lighting, static_cast<GLint>(k.lighting));
    if (k.lighting) {
        state_.Uniform1i(u.colourVertex, static_cast<GLint>(k.colourVertex));
        state_.Uniform4i(u.materialSource, static_cast<GLint>(k.diffuseSource), static_cast<GLint>(k.ambientSource),
                         static_cast<GLint>(k.specularSource), static_cast<GLint>(k.emissiveSource));
        state_.Uniform4fv(u.matDiffuse, &k.material.Diffuse.r);
        state_.Uniform4fv(u.matAmbient, &k.material.Ambient.r);
        state_.Uniform4fv(u.matSpecular, &k.material.Specular.r);
        state_.Uniform4fv(u.matEmissive, &k.material.Emissive.r);
        state_.Uniform1f(u.matPower, k.material.Power);
        float ambient[4];
        ColourValue(k.ambient, ambient);
        state_.Uniform4fv(u.globalAmbient, ambient);
        // NOTE: only directional lights are emulated; the scene uses no other kind.
        const bool lightOn = k.lightIndex >= 0 && k.light.Type == D3DLIGHT_DIRECTIONAL;
        state_.Uniform1i(u.lightOn, lightOn ? 1 : 0);
        state_.Uniform4fv(u.lightDiffuse, &k.light.Diffuse.r);
        state_.Uniform4fv(u.lightSpecular, &k.light.Specular.r);
        state_.Uniform4fv(u.lightAmbient, &k.light.Ambient.r);
        state_.Uniform1i(u.normalizeNormals, static_cast<GLint>(k.normalizeNormals));
        state_.Uniform1i(u.localViewer, static_cast<GLint>(k.localViewer));
    }
    state_.Uniform1i(u.specularEnable, static_cast<GLint>(k.specularEnable));
    state_.Uniform1i(u.fogMode, k.fogOn ? static_cast<GLint>(k.fogMode) : 0);
    state_.Uniform1f(u.fogStart, DwordToFloat(k.fogStart));
    state_.Uniform1f(u.fogEnd, DwordToFloat(k.fogEnd));
    state_.Uniform1i(u.instanced, static_cast<GLint>(k.instanced));
    state_.Uniform1i(u.texGen, static_cast<GLint>(k.texGen));
    state_.Uniform1i(u.texTransform, static_cast<GLint>(k.texTransform));
    if (k.texTransform) state_.UniformMatrix4fv(u.textureMatrix, &k.textureMatrix.m[0][0]);
    state_.Uniform1i(u.pointSprite, static_cast<GLint>(k.pointSprite));
    state_.Uniform1i(u.hasPointSize, static_cast<GLint>(k.hasPointSize));
    state_.Uniform1f(u.pointSize, DwordToFloat(k.pointSize));
    state_.Uniform1f(u.pointSizeMin, DwordToFloat(k.pointSizeMin));

    // Pixel stage.
    state_.Uniform1i(u.hasTexture, k.texture != nullptr ? 1 : 0);
    state_.Uniform3i(u.colourStage, static_cast<GLint>(k.colourOp), static_cast<GLint>(k.colourArg1),
                     static_cast<GLint>(k.colourArg2));
    state_.Uniform3i(u.alphaStage, static_cast<GLint>(k.alphaOp), static_cast<GLint>(k.alphaArg1),
                     static_cast<GLint>(k.alphaArg2));
    float factor[4];
    ColourValue(k.textureFactor, factor);
    state_.Uniform4fv(u.textureFactor, factor);
    state_.Uniform1i(u.fogOn, static_cast<GLint>(k.fogOn));
    float fog[4];
    ColourValue(k.fogColour, fog);
    state_.Uniform4fv(u.fogColour, fog);
    state_.Uniform1i(u.alphaTest, static_cast<GLint>(k.alphaTest));
    state_.Uniform1i(u.alphaFunc, static_cast<GLint>(k.alphaFunc));
    state_.Uniform1f(u.alphaRef, static_cast<float>(k.alphaRef));
}
