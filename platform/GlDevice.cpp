// The Direct3D 9 style device on OpenGL 3.3 core (or OpenGL ES 3.0).
//
// Drawing model: every immediate draw is converted into one canonical vertex
// layout and appended to the open batch. The batch carries a packed key of
// everything that affects how it is drawn (transforms, material, light, the
// render, stage and sampler states in use, the texture and its version, the
// vertex format's features and the primitive class). A draw whose key
// differs from the open batch's flushes it first; the key is rebuilt only
// after a Set* call changed something, so a long run of draws under one
// state costs a copy of its vertices and nothing else.
#include "platform/GlDevice.h"

#include <SDL.h>
#include <epoxy/gl.h>

#include <algorithm>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "common/Log.h"
#include "platform/DeviceState.h"
#include "platform/DeviceSurface.h"
#include "platform/GlShaderSource.h"
#include "platform/Matrices.h"
#include "platform/MemoryBuffer.h"
#include "platform/MemoryTexture.h"
#include "platform/messages.h"

namespace {

constexpr int kVertexBuffers = 4;                   // rotated so the GPU never waits on the one it reads
constexpr std::size_t kMaxBatchVertices = 1u << 17;  // about 5.8 MB of vertices per GPU draw  // about 12 MB of vertices per GPU draw

// The one vertex layout the shader reads.
struct GpuVertex {
    float position[4];
    float normal[3];
    std::uint32_t diffuse;   // D3DCOLOR as stored: bytes B, G, R, A
    std::uint32_t specular;
    float texCoord[2];
};
static_assert(sizeof(GpuVertex) == 44, "tightly packed vertex");

enum PrimitiveClass : std::uint32_t { kTriangles = 0, kLines = 1, kPoints = 2 };

// Everything that decides how a batch is drawn. Compared with memcmp, so it
// is always zero-filled before it is written.
struct DrawKey {
    std::uint32_t primitiveClass;
    std::uint32_t pretransformed, hasNormal, hasDiffuse, hasSpecular, hasTexCoord;
    std::uint32_t zEnable, zWrite, zFunc, cullMode;
    std::uint32_t blendEnable, srcBlend, destBlend, blendOp;
    std::uint32_t alphaTest, alphaRef, alphaFunc, colourWrite;
    std::uint32_t lighting, ambient, colourVertex, diffuseSource, ambientSource, specularSource, emissiveSource;
    std::uint32_t specularEnable, normalizeNormals, localViewer;
    std::uint32_t fogOn, fogMode, fogColour, fogStart, fogEnd;
    std::uint32_t textureFactor;
    std::uint32_t instanced, texGen, texTransform;
    std::uint32_t colourOp, colourArg1, colourArg2, alphaOp, alphaArg1, alphaArg2;
    std::uint32_t addressU, addressV, minFilter, magFilter, mipFilter;
    std::int32_t lightIndex;
    MemoryTexture* texture;
    std::uint64_t textureVersion;
    D3DMATRIX world, view, projection, textureMatrix;
    D3DVIEWPORT9 viewport;
    D3DMATERIAL9 material;
    D3DLIGHT9 light;
};

bool SameKey(const DrawKey& a, const DrawKey& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

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

void ColourValue(D3DCOLOR c, float out[4])
{
    out[0] = static_cast<float>((c >> 16) & 0xFF) / 255.0f;
    out[1] = static_cast<float>((c >> 8) & 0xFF) / 255.0f;
    out[2] = static_cast<float>(c & 0xFF) / 255.0f;
    out[3] = static_cast<float>((c >> 24) & 0xFF) / 255.0f;
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

struct Uniforms {
    GLint worldView, projection, normalMatrix, pretransformed, viewport, hasNormal, hasDiffuse, hasSpecular;
    GLint lighting, colourVertex, materialSource, matDiffuse, matAmbient, matSpecular, matEmissive, matPower;
    GLint globalAmbient, lightOn, lightDirection, lightDiffuse, lightSpecular, lightAmbient;
    GLint specularEnable, normalizeNormals, localViewer, fogMode, fogStart, fogEnd;
    GLint texture, hasTexture, colourStage, alphaStage, textureFactor, fogOn, fogColour, alphaTest, alphaFunc,
        alphaRef;
    GLint instanced, texGen, texTransform, textureMatrix;
};

class GlDevice final : public StateKeepingDevice, private GpuTextureCache, private GpuBufferCache {
public:
    static GlDevice* Create(SDL_Window* window, const D3DPRESENT_PARAMETERS& params, const GlDeviceOptions& options);

    HRESULT TestCooperativeLevel() override { return cooperative_; }
    HRESULT Reset(D3DPRESENT_PARAMETERS* params) override;
    HRESULT Present(const RECT* source, const RECT* dest, HWND overrideWindow, const void* dirtyRegion) override;
    HRESULT GetBackBuffer(UINT swapChain, UINT index, D3DBACKBUFFER_TYPE type, IDirect3DSurface9** surface) override;
    HRESULT GetDepthStencilSurface(IDirect3DSurface9** surface) override;
    HRESULT BeginScene() override;
    HRESULT EndScene() override;
    HRESULT Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR colour, float z, DWORD stencil) override;
    HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitiveCount, const void* vertices, UINT stride) override;
    HRESULT DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE type, UINT minVertexIndex, UINT vertexCount, UINT primitiveCount,
                                   const void* indices, D3DFORMAT indexFormat, const void* vertices,
                                   UINT stride) override;
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) override;
    HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertexIndex, UINT minVertexIndex, UINT vertexCount,
                                 UINT startIndex, UINT primitiveCount) override;
    bool ReadBackBuffer(std::vector<std::uint8_t>& rgb, UINT& width, UINT& height) override;
    DeviceFrameStats LastFrameStats() const override { return lastStats_; }
    void SimulateLoss(HRESULT presentResult, HRESULT cooperative) override
    {
        pendingPresentResult_ = presentResult;
        cooperative_ = cooperative;
    }

protected:
    ~GlDevice() override;
    void OnStateChanged() override { keyStale_ = true; }

private:
    GlDevice(SDL_Window* window, const GlDeviceOptions& options) : window_(window), options_(options) {}
    bool Init(const D3DPRESENT_PARAMETERS& params);
    // The program specialised for the switches of a key: every integer
    // switch of the shader becomes a constant, so the shader compiler drops
    // what the state does not use. Mesa's software rasteriser runs both sides
    // of a branch, and a possible discard forbids its early depth test, so a
    // lean program per state costs far less per vertex and per pixel.
    bool UseProgramFor(const DrawKey& key);
    bool BuildProgram(const std::string& defines, GLuint& program, Uniforms& uniforms);
    bool BuildBackBuffer(UINT width, UINT height);
    void DeleteBackBuffer();
    void MakeCurrent();
    void Forget(MemoryTexture* texture) override;
    void Adopt(MemoryTexture* texture);
    void Forget(BufferBytes* buffer) override;
    // Brings the GPU copy of a buffer up to date: only the bytes written since.
    void Sync(BufferBytes* buffer, GLenum target);
    // Binds the buffer vertex array for stream 0 from `firstVertex` on, and the instance stream.
    void BindStreams(UINT firstVertex, bool instanced);
    void ApplyForDraw(const DrawKey& key);

    void RefreshKey(PrimitiveClass primitiveClass, bool instanced = false);
    void BeginBatch(PrimitiveClass primitiveClass, std::size_t incoming);
    void Flush();
    void ApplyKey(const DrawKey& key);
    void BindTexture(const DrawKey& key);
    void Upload(MemoryTexture* texture);
    void Decode(const std::uint8_t* source, GpuVertex& out) const;
    void AfterDraw(D3DPRIMITIVETYPE type, UINT primitiveCount);

    SDL_Window* window_;
    GlDeviceOptions options_;
    SDL_GLContext context_ = nullptr;
    bool gles_ = false;
    D3DPRESENT_PARAMETERS params_{};
    UINT width_ = 640;
    UINT height_ = 480;

    struct Program {
        GLuint name = 0;
        Uniforms uniforms{};
    };
    std::unordered_map<std::string, Program> programs_;  // by the switches' define lines
    GLuint program_ = 0;  // in use
    Uniforms u_{};        // of the program in use
    std::string switches_;
    GLuint framebuffer_ = 0;
    GLuint colourBuffer_ = 0;
    GLuint depthBuffer_ = 0;
    GLuint vertexArrays_[kVertexBuffers] = {};
    GLuint vertexBuffers_[kVertexBuffers] = {};
    std::size_t bufferCapacity_[kVertexBuffers] = {};
    int nextBuffer_ = 0;
    GLuint streamArray_ = 0;  // the vertex array of draws from buffers
    std::unordered_set<BufferBytes*> buffers_;

    // The open batch: kMaxBatchVertices slots, batchCount_ of them filled.
    std::unique_ptr<GpuVertex[]> batch_;
    std::size_t batchCount_ = 0;
    DrawKey batchKey_{};
    bool batchOpen_ = false;
    // The key of the current state; valid while keyStale_ is false.
    DrawKey key_{};
    bool keyStale_ = true;
    VertexLayout layout_{};
    // What the GL state was last set to.
    DrawKey appliedKey_{};
    bool appliedValid_ = false;

    std::unordered_set<MemoryTexture*> textures_;
    std::vector<GpuVertex> decoded_;

    DeviceFrameStats frameStats_;
    DeviceFrameStats lastStats_;
    std::uint32_t presents_ = 0;  // every Present, lost ones included
    bool inScene_ = false;
    HRESULT pendingPresentResult_ = D3D_OK;
    HRESULT cooperative_ = D3D_OK;
    int drawableWidth_ = 0;
    int drawableHeight_ = 0;
};

// ---------------------------------------------------------------------------
// Creation

bool CreateContext(SDL_Window* window, SDL_GLContext& context, bool& gles)
{
    struct Attempt {
        int profile, major, minor;
        bool gles;
    };
    const Attempt attempts[] = {{SDL_GL_CONTEXT_PROFILE_CORE, 3, 3, false}, {SDL_GL_CONTEXT_PROFILE_ES, 3, 0, true}};
    std::string errors;
    for (const Attempt& a : attempts) {
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, a.profile);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, a.major);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, a.minor);
        SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
        context = SDL_GL_CreateContext(window);
        if (context != nullptr) {
            gles = a.gles;
            return true;
        }
        if (!errors.empty()) errors += "; ";
        errors += SDL_GetError();
    }
    LogLine("graphics", "cannot create an OpenGL 3.3 or OpenGL ES 3.0 context: %s", errors.c_str());
    return false;
}

GlDevice* GlDevice::Create(SDL_Window* window, const D3DPRESENT_PARAMETERS& params, const GlDeviceOptions& options)
{
    auto* device = new GlDevice(window, options);
    if (!device->Init(params)) {
        device->Release();
        return nullptr;
    }
    return device;
}

bool GlDevice::Init(const D3DPRESENT_PARAMETERS& params)
{
    if (!CreateContext(window_, context_, gles_)) return false;
    SDL_GL_MakeCurrent(window_, context_);
    LogLine("graphics", "OpenGL %s on %s", reinterpret_cast<const char*>(glGetString(GL_VERSION)),
            reinterpret_cast<const char*>(glGetString(GL_RENDERER)));
    // The general program, with every switch a uniform, proves that the
    // shaders compile on this driver before anything is drawn.
    if (!BuildProgram(std::string(), program_, u_)) return false;
    programs_[std::string()] = Program{program_, u_};

    params_ = params;
    width_ = params.BackBufferWidth != 0 ? params.BackBufferWidth : 640;
    height_ = params.BackBufferHeight != 0 ? params.BackBufferHeight : 480;
    if (!BuildBackBuffer(width_, height_)) return false;

    glGenVertexArrays(kVertexBuffers, vertexArrays_);
    glGenBuffers(kVertexBuffers, vertexBuffers_);
    for (int i = 0; i < kVertexBuffers; ++i) {
        glBindVertexArray(vertexArrays_[i]);
        glBindBuffer(GL_ARRAY_BUFFER, vertexBuffers_[i]);
        const GLsizei stride = sizeof(GpuVertex);
        glEnableVertexAttribArray(0);
        glVertexAttribPointer(0, 4, GL_FLOAT, GL_FALSE, stride, reinterpret_cast<void*>(offsetof(GpuVertex, position)));
        glEnableVertexAttribArray(1);
        glVertexAttribPointer(1, 3, GL_FLOAT, GL_FALSE, stride, reinterpret_cast<void*>(offsetof(GpuVertex, normal)));
        glEnableVertexAttribArray(2);
        glVertexAttribPointer(2, 4, GL_UNSIGNED_BYTE, GL_TRUE, stride,
                              reinterpret_cast<void*>(offsetof(GpuVertex, diffuse)));
        glEnableVertexAttribArray(3);
        glVertexAttribPointer(3, 4, GL_UNSIGNED_BYTE, GL_TRUE, stride,
                              reinterpret_cast<void*>(offsetof(GpuVertex, specular)));
        glEnableVertexAttribArray(4);
        glVertexAttribPointer(4, 2, GL_FLOAT, GL_FALSE, stride,
                              reinterpret_cast<void*>(offsetof(GpuVertex, texCoord)));
    }
    glGenVertexArrays(1, &streamArray_);
    glBindVertexArray(0);
    batch_ = std::make_unique_for_overwrite<GpuVertex[]>(kMaxBatchVertices);

    SDL_GL_SetSwapInterval(params.PresentationInterval == D3DPRESENT_INTERVAL_ONE ? 1 : 0);
    SDL_GL_GetDrawableSize(window_, &drawableWidth_, &drawableHeight_);
    RestoreDefaults(width_, height_, params.EnableAutoDepthStencil != FALSE);

    if (GLenum error = glGetError(); error != GL_NO_ERROR) {
        LogLine("graphics", "OpenGL set-up failed (error 0x%04X)", error);
        return false;
    }
    return true;
}

GLuint CompileShader(GLenum type, const std::string& source)
{
    GLuint shader = glCreateShader(type);
    const char* text = source.c_str();
    glShaderSource(shader, 1, &text, nullptr);
    glCompileShader(shader);
    GLint ok = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        char log[2048] = {};
        glGetShaderInfoLog(shader, sizeof log, nullptr, log);
        LogLine("graphics", "%s shader does not compile: %s", type == GL_VERTEX_SHADER ? "vertex" : "fragment", log);
        glDeleteShader(shader);
        return 0;
    }
    return shader;
}

// Removes the declarations of the switches that `defines` turns into
// constants ("#define uName value" lines).
std::string Specialise(std::string body, const std::string& defines)
{
    std::size_t at = 0;
    while ((at = defines.find("#define ", at)) != std::string::npos) {
        at += 8;
        const std::string name = defines.substr(at, defines.find(' ', at) - at);
        for (const char* type : {"uniform int ", "uniform ivec3 ", "uniform ivec4 "}) {
            const std::size_t declared = body.find(std::string(type) + name + ";");
            if (declared == std::string::npos) continue;
            body.erase(declared, body.find('\n', declared) - declared);
        }
    }
    return defines + body;
}

bool GlDevice::BuildProgram(const std::string& defines, GLuint& program, Uniforms& u)
{
    const std::string header = gles_ ? "#version 300 es\nprecision highp float;\nprecision highp int;\n"
                                     : "#version 330 core\n";
    GLuint vs = CompileShader(GL_VERTEX_SHADER, header + Specialise(glshader::kVertexBody, defines));
    GLuint fs = CompileShader(GL_FRAGMENT_SHADER, header + Specialise(glshader::kFragmentBody, defines));
    if (vs == 0 || fs == 0) {
        if (vs) glDeleteShader(vs);
        if (fs) glDeleteShader(fs);
        return false;
    }
    program = glCreateProgram();
    glAttachShader(program, vs);
    glAttachShader(program, fs);
    glLinkProgram(program);
    glDeleteShader(vs);
    glDeleteShader(fs);
    GLint ok = GL_FALSE;
    glGetProgramiv(program, GL_LINK_STATUS, &ok);
    if (!ok) {
        char log[2048] = {};
        glGetProgramInfoLog(program, sizeof log, nullptr, log);
        LogLine("graphics", "shader program does not link: %s", log);
        glDeleteProgram(program);
        program = 0;
        return false;
    }
    glUseProgram(program);
    auto at = [program](const char* name) { return glGetUniformLocation(program, name); };
    u.worldView = at("uWorldView");
    u.projection = at("uProjection");
    u.normalMatrix = at("uNormalMatrix");
    u.pretransformed = at("uPretransformed");
    u.viewport = at("uViewport");
    u.hasNormal = at("uHasNormal");
    u.hasDiffuse = at("uHasDiffuse");
    u.hasSpecular = at("uHasSpecular");
    u.lighting = at("uLighting");
    u.colourVertex = at("uColorVertex");
    u.materialSource = at("uMaterialSource");
    u.matDiffuse = at("uMatDiffuse");
    u.matAmbient = at("uMatAmbient");
    u.matSpecular = at("uMatSpecular");
    u.matEmissive = at("uMatEmissive");
    u.matPower = at("uMatPower");
    u.globalAmbient = at("uGlobalAmbient");
    u.lightOn = at("uLightOn");
    u.lightDirection = at("uLightDirection");
    u.lightDiffuse = at("uLightDiffuse");
    u.lightSpecular = at("uLightSpecular");
    u.lightAmbient = at("uLightAmbient");
    u.specularEnable = at("uSpecularEnable");
    u.normalizeNormals = at("uNormalizeNormals");
    u.localViewer = at("uLocalViewer");
    u.fogMode = at("uFogMode");
    u.fogStart = at("uFogStart");
    u.fogEnd = at("uFogEnd");
    u.texture = at("uTexture");
    u.hasTexture = at("uHasTexture");
    u.colourStage = at("uColourStage");
    u.alphaStage = at("uAlphaStage");
    u.textureFactor = at("uTextureFactor");
    u.fogOn = at("uFogOn");
    u.fogColour = at("uFogColour");
    u.alphaTest = at("uAlphaTest");
    u.alphaFunc = at("uAlphaFunc");
    u.alphaRef = at("uAlphaRef");
    u.instanced = at("uInstanced");
    u.texGen = at("uTexGen");
    u.texTransform = at("uTexTransform");
    u.textureMatrix = at("uTextureMatrix");
    glUniform1i(u.texture, 0);
    return true;
}

bool GlDevice::BuildBackBuffer(UINT width, UINT height)
{
    DeleteBackBuffer();
    glGenFramebuffers(1, &framebuffer_);
    glGenRenderbuffers(1, &colourBuffer_);
    glGenRenderbuffers(1, &depthBuffer_);
    glBindRenderbuffer(GL_RENDERBUFFER, colourBuffer_);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, static_cast<GLsizei>(width), static_cast<GLsizei>(height));
    glBindRenderbuffer(GL_RENDERBUFFER, depthBuffer_);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT16, static_cast<GLsizei>(width),
                          static_cast<GLsizei>(height));
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colourBuffer_);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depthBuffer_);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        LogLine("graphics", "cannot build the %ux%u back buffer", width, height);
        return false;
    }
    width_ = width;
    height_ = height;
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClearDepthf(1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    appliedValid_ = false;
    return true;
}

void GlDevice::DeleteBackBuffer()
{
    if (framebuffer_) glDeleteFramebuffers(1, &framebuffer_);
    if (colourBuffer_) glDeleteRenderbuffers(1, &colourBuffer_);
    if (depthBuffer_) glDeleteRenderbuffers(1, &depthBuffer_);
    framebuffer_ = colourBuffer_ = depthBuffer_ = 0;
}

GlDevice::~GlDevice()
{
    if (context_ != nullptr) {
        MakeCurrent();
        for (MemoryTexture* texture : textures_) {
            if (texture->gpu.name != 0) glDeleteTextures(1, &texture->gpu.name);
            texture->gpu = MemoryTexture::GpuLink{};
        }
        textures_.clear();
        for (BufferBytes* buffer : buffers_) {
            if (buffer->gpu.name != 0) glDeleteBuffers(1, &buffer->gpu.name);
            buffer->gpu = BufferBytes::GpuLink{};
        }
        buffers_.clear();
        if (streamArray_) glDeleteVertexArrays(1, &streamArray_);
        DeleteBackBuffer();
        glDeleteBuffers(kVertexBuffers, vertexBuffers_);
        glDeleteVertexArrays(kVertexBuffers, vertexArrays_);
        for (auto& entry : programs_) glDeleteProgram(entry.second.name);
        SDL_GL_MakeCurrent(window_, nullptr);
        SDL_GL_DeleteContext(context_);
    }
}

void GlDevice::MakeCurrent()
{
    if (SDL_GL_GetCurrentContext() != context_) SDL_GL_MakeCurrent(window_, context_);
}

void GlDevice::Forget(MemoryTexture* texture)
{
    // Draws queued with this texture go out while it still exists.
    if (batchOpen_ && batchKey_.texture == texture) Flush();
    // A key naming a dead texture must never match a new one at the same address.
    if (appliedKey_.texture == texture) appliedValid_ = false;
    if (textures_.erase(texture) == 0) return;
    MakeCurrent();
    if (texture->gpu.name != 0) glDeleteTextures(1, &texture->gpu.name);
    texture->gpu = MemoryTexture::GpuLink{};
    keyStale_ = true;
}

// ---------------------------------------------------------------------------
// Device calls

HRESULT GlDevice::Reset(D3DPRESENT_PARAMETERS* params)
{
    if (params == nullptr) return D3DERR_INVALIDCALL;
    MakeCurrent();
    batchCount_ = 0;
    batchOpen_ = false;
    const UINT width = params->BackBufferWidth != 0 ? params->BackBufferWidth : 640;
    const UINT height = params->BackBufferHeight != 0 ? params->BackBufferHeight : 480;
    if (width > 8192 || height > 8192) return D3DERR_INVALIDCALL;
    if ((width != width_ || height != height_) && !BuildBackBuffer(width, height)) return D3DERR_OUTOFVIDEOMEMORY;
    params_ = *params;
    SDL_GL_SetSwapInterval(params_.PresentationInterval == D3DPRESENT_INTERVAL_ONE ? 1 : 0);
    RestoreDefaults(width_, height_, params_.EnableAutoDepthStencil != FALSE);
    pendingPresentResult_ = D3D_OK;
    cooperative_ = D3D_OK;
    inScene_ = false;
    appliedValid_ = false;
    frameStats_ = DeviceFrameStats{};  // a reset starts a new frame
    SDL_GL_GetDrawableSize(window_, &drawableWidth_, &drawableHeight_);
    return D3D_OK;
}

HRESULT GlDevice::GetBackBuffer(UINT swapChain, UINT index, D3DBACKBUFFER_TYPE, IDirect3DSurface9** surface)
{
    if (surface == nullptr) return D3DERR_INVALIDCALL;
    *surface = nullptr;
    if (swapChain != 0 || index != 0) return D3DERR_INVALIDCALL;
    *surface = new DeviceSurface(D3DSURFACE_DESC{D3DFMT_X8R8G8B8, 0, D3DPOOL_DEFAULT, width_, height_});
    return D3D_OK;
}

HRESULT GlDevice::GetDepthStencilSurface(IDirect3DSurface9** surface)
{
    if (surface == nullptr) return D3DERR_INVALIDCALL;
    *surface = new DeviceSurface(D3DSURFACE_DESC{D3DFMT_D16, 0, D3DPOOL_DEFAULT, width_, height_});
    return D3D_OK;
}

HRESULT GlDevice::BeginScene()
{
    if (inScene_) return D3DERR_INVALIDCALL;
    inScene_ = true;
    return D3D_OK;
}

HRESULT GlDevice::EndScene()
{
    if (!inScene_) return D3DERR_INVALIDCALL;
    inScene_ = false;
    Flush();
    return D3D_OK;
}

HRESULT GlDevice::Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR colour, float z, DWORD)
{
    Flush();
    MakeCurrent();
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    GLbitfield mask = 0;
    if (flags & D3DCLEAR_TARGET) {
        float c[4];
        ColourValue(colour, c);
        glClearColor(c[0], c[1], c[2], c[3]);
        glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
        mask |= GL_COLOR_BUFFER_BIT;
    }
    if (flags & D3DCLEAR_ZBUFFER) {
        glClearDepthf(std::clamp(z, 0.0f, 1.0f));
        glDepthMask(GL_TRUE);
        mask |= GL_DEPTH_BUFFER_BIT;
    }
    if (mask == 0) return D3D_OK;

    // Direct3D clears the viewport, or the given rectangles inside it.
    const D3DVIEWPORT9& vp = state_.viewport;
    const LONG vx0 = static_cast<LONG>(vp.X), vy0 = static_cast<LONG>(vp.Y);
    const LONG vx1 = vx0 + static_cast<LONG>(vp.Width), vy1 = vy0 + static_cast<LONG>(vp.Height);
    glEnable(GL_SCISSOR_TEST);
    auto clearRect = [&](LONG x0, LONG y0, LONG x1, LONG y1) {
        x0 = std::max(x0, vx0), y0 = std::max(y0, vy0), x1 = std::min(x1, vx1), y1 = std::min(y1, vy1);
        if (x1 <= x0 || y1 <= y0) return;
        glScissor(x0, static_cast<GLint>(height_) - y1, x1 - x0, y1 - y0);
        glClear(mask);
    };
    if (count == 0 || rects == nullptr) {
        clearRect(vx0, vy0, vx1, vy1);
    } else {
        for (DWORD i = 0; i < count; ++i) clearRect(rects[i].x1, rects[i].y1, rects[i].x2, rects[i].y2);
    }
    glDisable(GL_SCISSOR_TEST);
    appliedValid_ = false;  // the masks were changed behind the applied state's back
    return D3D_OK;
}

HRESULT GlDevice::Present(const RECT*, const RECT*, HWND, const void*)
{
    Flush();
    lastStats_ = frameStats_;
    lastStats_.presentCount = ++presents_;
    frameStats_ = DeviceFrameStats{};
    if (pendingPresentResult_ != D3D_OK) {
        HRESULT result = pendingPresentResult_;
        pendingPresentResult_ = D3D_OK;
        return result;
    }
    MakeCurrent();
    int dw = 0, dh = 0;
    SDL_GL_GetDrawableSize(window_, &dw, &dh);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer_);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    glDisable(GL_SCISSOR_TEST);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glViewport(0, 0, dw, dh);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    if (dw > 0 && dh > 0) {
        // The largest rectangle of the back buffer's aspect that fits, centred.
        const double scale = std::min(static_cast<double>(dw) / width_, static_cast<double>(dh) / height_);
        const int w = static_cast<int>(std::lround(width_ * scale));
        const int h = static_cast<int>(std::lround(height_ * scale));
        const int x = (dw - w) / 2, y = (dh - h) / 2;
        glBlitFramebuffer(0, 0, static_cast<GLint>(width_), static_cast<GLint>(height_), x, y, x + w, y + h,
                          GL_COLOR_BUFFER_BIT, (w == static_cast<int>(width_)) ? GL_NEAREST : GL_LINEAR);
    }
    SDL_GL_SwapWindow(window_);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    appliedValid_ = false;

    // A window whose size changed reports a lost device once, so that the
    // render device runs its recovery.
    if (dw != drawableWidth_ || dh != drawableHeight_) {
        drawableWidth_ = dw;
        drawableHeight_ = dh;
        cooperative_ = D3DERR_DEVICENOTRESET;
        return D3DERR_DEVICELOST;
    }
    return D3D_OK;
}

bool GlDevice::ReadBackBuffer(std::vector<std::uint8_t>& rgb, UINT& width, UINT& height)
{
    Flush();
    MakeCurrent();
    std::vector<std::uint8_t> rgba(static_cast<std::size_t>(width_) * height_ * 4);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer_);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(0, 0, static_cast<GLsizei>(width_), static_cast<GLsizei>(height_), GL_RGBA, GL_UNSIGNED_BYTE,
                 rgba.data());
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    if (glGetError() != GL_NO_ERROR) return false;
    width = width_;
    height = height_;
    rgb.resize(static_cast<std::size_t>(width_) * height_ * 3);
    // OpenGL's rows run bottom up.
    for (UINT y = 0; y < height_; ++y) {
        const std::uint8_t* from = rgba.data() + static_cast<std::size_t>(height_ - 1 - y) * width_ * 4;
        std::uint8_t* to = rgb.data() + static_cast<std::size_t>(y) * width_ * 3;
        for (UINT x = 0; x < width_; ++x) {
            to[x * 3] = from[x * 4];
            to[x * 3 + 1] = from[x * 4 + 1];
            to[x * 3 + 2] = from[x * 4 + 2];
        }
    }
    return true;
}

// ---------------------------------------------------------------------------
// Batching

void GlDevice::RefreshKey(PrimitiveClass primitiveClass, bool instanced)
{
    if (!keyStale_) {
        key_.primitiveClass = primitiveClass;
        key_.instanced = instanced;
        if (key_.texture != nullptr) key_.textureVersion = key_.texture->Version();
        return;
    }
    keyStale_ = false;
    const DeviceState& s = state_;
    layout_ = DescribeFvf(s.fvf);
    DrawKey& k = key_;
    std::memset(&k, 0, sizeof k);
    k.primitiveClass = primitiveClass;
    k.instanced = instanced;
    k.pretransformed = layout_.pretransformed;
    k.hasNormal = layout_.normalOffset >= 0;
    k.hasDiffuse = layout_.diffuseOffset >= 0;
    k.hasSpecular = layout_.specularOffset >= 0;
    k.hasTexCoord = layout_.texCount > 0;
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
    }
    k.viewport = s.viewport;
}

void GlDevice::BeginBatch(PrimitiveClass primitiveClass, std::size_t incoming)
{
    const bool wasStale = keyStale_;
    RefreshKey(primitiveClass);
    if (batchOpen_) {
        const bool sameKey = !wasStale && batchKey_.primitiveClass == primitiveClass &&
                                     batchKey_.texture == key_.texture &&
                                     batchKey_.textureVersion == key_.textureVersion
                                 ? true
                                 : SameKey(batchKey_, key_);
        if (!sameKey || batchCount_ + incoming > kMaxBatchVertices) Flush();
    }
    if (!batchOpen_) {
        batchKey_ = key_;
        batchOpen_ = true;
        // From now on the texture tells this device before it dies.
        if (batchKey_.texture != nullptr) Adopt(batchKey_.texture);
    }
}

void GlDevice::Adopt(MemoryTexture* texture)
{
    if (texture->gpu.cache == this) return;
    if (texture->gpu.cache != nullptr) texture->gpu.cache->Forget(texture);
    texture->gpu = MemoryTexture::GpuLink{};
    texture->gpu.cache = this;
    textures_.insert(texture);
}

void GlDevice::Decode(const std::uint8_t* source, GpuVertex& out) const
{
    const VertexLayout& l = layout_;
    float position[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    std::memcpy(position, source, static_cast<std::size_t>(std::min(l.positionFloats, 4)) * 4);
    if (!l.pretransformed) position[3] = 1.0f;
    std::memcpy(out.position, position, sizeof position);
    if (l.normalOffset >= 0)
        std::memcpy(out.normal, source + l.normalOffset, 12);
    else
        out.normal[0] = out.normal[1] = out.normal[2] = 0.0f;
    if (l.diffuseOffset >= 0)
        std::memcpy(&out.diffuse, source + l.diffuseOffset, 4);
    else
        out.diffuse = 0xFFFFFFFFu;
    if (l.specularOffset >= 0)
        std::memcpy(&out.specular, source + l.specularOffset, 4);
    else
        out.specular = 0;
    if (l.texOffset >= 0)
        std::memcpy(out.texCoord, source + l.texOffset, 8);
    else
        out.texCoord[0] = out.texCoord[1] = 0.0f;
}

PrimitiveClass ClassOf(D3DPRIMITIVETYPE type)
{
    switch (type) {
    case D3DPT_POINTLIST: return kPoints;
    case D3DPT_LINELIST:
    case D3DPT_LINESTRIP: return kLines;
    default: return kTriangles;
    }
}

// Positions of the vertices of a list that draws the same primitives.
template <typename Emit>
void ExpandToList(D3DPRIMITIVETYPE type, UINT primitiveCount, Emit emit)
{
    switch (type) {
    case D3DPT_POINTLIST:
    case D3DPT_LINELIST:
    case D3DPT_TRIANGLELIST:
        for (UINT i = 0; i < VerticesForPrimitives(type, primitiveCount); ++i) emit(i);
        break;
    case D3DPT_LINESTRIP:
        for (UINT i = 0; i < primitiveCount; ++i) {
            emit(i);
            emit(i + 1);
        }
        break;
    case D3DPT_TRIANGLESTRIP:
        // Every other triangle of a strip is wound the other way round.
        for (UINT i = 0; i < primitiveCount; ++i) {
            if (i % 2 == 0) {
                emit(i);
                emit(i + 1);
            } else {
                emit(i + 1);
                emit(i);
            }
            emit(i + 2);
        }
        break;
    case D3DPT_TRIANGLEFAN:
        for (UINT i = 0; i < primitiveCount; ++i) {
            emit(0);
            emit(i + 1);
            emit(i + 2);
        }
        break;
    }
}

UINT ListLength(D3DPRIMITIVETYPE type, UINT primitiveCount)
{
    switch (type) {
    case D3DPT_POINTLIST: return primitiveCount;
    case D3DPT_LINELIST:
    case D3DPT_LINESTRIP: return primitiveCount * 2;
    default: return primitiveCount * 3;
    }
}

void GlDevice::AfterDraw(D3DPRIMITIVETYPE type, UINT primitiveCount)
{
    ++frameStats_.immediateCalls;
    if (ClassOf(type) == kTriangles) frameStats_.triangles += primitiveCount;
    if (!options_.batching) Flush();
}

HRESULT GlDevice::DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitiveCount, const void* vertices, UINT stride)
{
    const UINT count = VerticesForPrimitives(type, primitiveCount);
    const UINT listLength = ListLength(type, primitiveCount);
    // NOTE: one call may not exceed what one batch holds (43 690 triangles).
    if (vertices == nullptr || count == 0 || listLength > kMaxBatchVertices) return D3DERR_INVALIDCALL;
    BeginBatch(ClassOf(type), listLength);
    if (stride < layout_.size || layout_.positionFloats == 0) return D3DERR_INVALIDCALL;

    const auto* bytes = static_cast<const std::uint8_t*>(vertices);
    if (decoded_.size() < count) decoded_.resize(count);
    for (UINT i = 0; i < count; ++i) Decode(bytes + static_cast<std::size_t>(i) * stride, decoded_[i]);
    GpuVertex* out = batch_.get() + batchCount_;
    batchCount_ += listLength;
    ExpandToList(type, primitiveCount, [&](UINT i) { *out++ = decoded_[i]; });
    AfterDraw(type, primitiveCount);
    return D3D_OK;
}

HRESULT GlDevice::DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE type, UINT minVertexIndex, UINT vertexCount,
                                         UINT primitiveCount, const void* indices, D3DFORMAT indexFormat,
                                         const void* vertices, UINT stride)
{
    const UINT count = VerticesForPrimitives(type, primitiveCount);
    if (vertices == nullptr || indices == nullptr || count == 0 ||
        ListLength(type, primitiveCount) > kMaxBatchVertices)
        return D3DERR_INVALIDCALL;
    if (indexFormat != D3DFMT_INDEX16 && indexFormat != D3DFMT_INDEX32) return D3DERR_INVALIDCALL;
    const UINT limit = minVertexIndex + vertexCount;
    auto indexAt = [&](UINT i) -> UINT {
        return indexFormat == D3DFMT_INDEX16 ? static_cast<const std::uint16_t*>(indices)[i]
                                             : static_cast<const std::uint32_t*>(indices)[i];
    };
    for (UINT i = 0; i < count; ++i)
        if (indexAt(i) >= limit) return D3DERR_INVALIDCALL;  // an index past the vertices given

    const UINT listLength = ListLength(type, primitiveCount);
    BeginBatch(ClassOf(type), listLength);
    if (stride < layout_.size || layout_.positionFloats == 0) return D3DERR_INVALIDCALL;
    const auto* bytes = static_cast<const std::uint8_t*>(vertices);
    GpuVertex* out = batch_.get() + batchCount_;
    batchCount_ += listLength;
    ExpandToList(type, primitiveCount,
                 [&](UINT i) { Decode(bytes + static_cast<std::size_t>(indexAt(i)) * stride, *out++); });
    AfterDraw(type, primitiveCount);
    return D3D_OK;
}

void GlDevice::Flush()
{
    if (!batchOpen_) return;
    batchOpen_ = false;
    if (batchCount_ == 0) return;
    MakeCurrent();
    ApplyForDraw(batchKey_);

    const int slot = nextBuffer_;
    nextBuffer_ = (nextBuffer_ + 1) % kVertexBuffers;
    glBindVertexArray(vertexArrays_[slot]);
    glBindBuffer(GL_ARRAY_BUFFER, vertexBuffers_[slot]);
    const std::size_t bytes = batchCount_ * sizeof(GpuVertex);
    // Storage grows once and is then rewritten in place; with the buffers
    // taking turns, the one written was last drawn from several batches ago.
    if (bytes > bufferCapacity_[slot]) {
        bufferCapacity_[slot] = std::max(bytes, std::size_t{1} << 20);
        glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(bufferCapacity_[slot]), nullptr, GL_STREAM_DRAW);
    }
    glBufferSubData(GL_ARRAY_BUFFER, 0, static_cast<GLsizeiptr>(bytes), batch_.get());
    frameStats_.uploadBytes += static_cast<std::uint32_t>(bytes);
    const GLenum mode = batchKey_.primitiveClass == kTriangles ? GL_TRIANGLES
                        : batchKey_.primitiveClass == kLines   ? GL_LINES
                                                               : GL_POINTS;
    glDrawArrays(mode, 0, static_cast<GLsizei>(batchCount_));
    ++frameStats_.gpuDraws;
    frameStats_.vertices += static_cast<std::uint32_t>(batchCount_);
    batchCount_ = 0;
}

void GlDevice::ApplyForDraw(const DrawKey& key)
{
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    if (!appliedValid_ || !SameKey(appliedKey_, key)) {
        ApplyKey(key);
        appliedKey_ = key;
        appliedValid_ = true;
    } else if (key.texture != nullptr && key.texture->gpu.uploadedVersion != key.texture->Version()) {
        BindTexture(key);
    }
}

void GlDevice::Forget(BufferBytes* buffer)
{
    if (buffers_.erase(buffer) == 0) return;
    MakeCurrent();
    if (buffer->gpu.name != 0) glDeleteBuffers(1, &buffer->gpu.name);
    buffer->gpu = BufferBytes::GpuLink{};
}

void GlDevice::Sync(BufferBytes* buffer, GLenum target)
{
    if (buffer->gpu.cache != this) {
        if (buffer->gpu.cache != nullptr) buffer->gpu.cache->Forget(buffer);
        buffer->gpu = BufferBytes::GpuLink{};
        buffer->gpu.cache = this;
        buffers_.insert(buffer);
    }
    if (buffer->gpu.name == 0) {
        // Storage first; the bytes follow as they are written, so a buffer
        // sized for 1024 rings sends only the rings built.
        glGenBuffers(1, &buffer->gpu.name);
        glBindBuffer(target, buffer->gpu.name);
        glBufferData(target, buffer->Size(), nullptr, GL_STATIC_DRAW);
    } else {
        glBindBuffer(target, buffer->gpu.name);
    }
    if (!buffer->Dirty()) return;
    const UINT begin = buffer->DirtyBegin(), end = buffer->DirtyEnd();
    glBufferSubData(target, begin, end - begin, buffer->Data() + begin);
    frameStats_.uploadBytes += end - begin;
    buffer->MarkClean();
}

void GlDevice::BindStreams(UINT firstVertex, bool instanced)
{
    glBindVertexArray(streamArray_);
    const Stream& s = streams_[0];
    Sync(s.buffer, GL_ARRAY_BUFFER);
    const GLsizei stride = static_cast<GLsizei>(s.stride);
    const std::size_t base = s.offset + static_cast<std::size_t>(firstVertex) * s.stride;
    auto at = [base](int offset) { return reinterpret_cast<void*>(base + static_cast<std::size_t>(offset)); };
    const VertexLayout& l = layout_;
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(0, std::min(l.positionFloats, 4), GL_FLOAT, GL_FALSE, stride, at(0));
    auto attribute = [&](GLuint index, int offset, GLint size, GLenum type, GLboolean normalised) {
        if (offset < 0) {
            glDisableVertexAttribArray(index);
            return;
        }
        glEnableVertexAttribArray(index);
        glVertexAttribPointer(index, size, type, normalised, stride, at(offset));
    };
    attribute(1, l.normalOffset, 3, GL_FLOAT, GL_FALSE);
    attribute(2, l.diffuseOffset, 4, GL_UNSIGNED_BYTE, GL_TRUE);
    attribute(3, l.specularOffset, 4, GL_UNSIGNED_BYTE, GL_TRUE);
    attribute(4, l.texCount > 0 ? l.texOffset : -1, 2, GL_FLOAT, GL_FALSE);
    if (!instanced) {
        glDisableVertexAttribArray(5);
        glDisableVertexAttribArray(6);
        return;
    }
    const Stream& i = streams_[1];
    Sync(i.buffer, GL_ARRAY_BUFFER);
    const GLsizei instanceStride = static_cast<GLsizei>(i.stride);
    glEnableVertexAttribArray(5);
    glVertexAttribPointer(5, 3, GL_FLOAT, GL_FALSE, instanceStride, reinterpret_cast<void*>(std::size_t{i.offset}));
    glVertexAttribDivisor(5, 1);
    glEnableVertexAttribArray(6);
    glVertexAttribPointer(6, 4, GL_UNSIGNED_BYTE, GL_TRUE, instanceStride,
                          reinterpret_cast<void*>(i.offset + offsetof(InstanceRecord, diffuse)));
    glVertexAttribDivisor(6, 1);
}

GLenum PrimitiveMode(D3DPRIMITIVETYPE type)
{
    switch (type) {
    case D3DPT_POINTLIST: return GL_POINTS;
    case D3DPT_LINELIST: return GL_LINES;
    case D3DPT_LINESTRIP: return GL_LINE_STRIP;
    case D3DPT_TRIANGLESTRIP: return GL_TRIANGLE_STRIP;
    case D3DPT_TRIANGLEFAN: return GL_TRIANGLE_FAN;
    default: return GL_TRIANGLES;
    }
}

HRESULT GlDevice::DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount)
{
    const UINT count = VerticesForPrimitives(type, primitiveCount);
    if (count == 0 || !StreamsCover(startVertex, count)) return D3DERR_INVALIDCALL;
    const UINT instances = InstanceCount();
    if (instances == 0) return D3DERR_INVALIDCALL;
    const bool instanced = (streams_[0].frequency & D3DSTREAMSOURCE_INDEXEDDATA) != 0;
    Flush();
    MakeCurrent();
    RefreshKey(ClassOf(type), instanced);
    if (layout_.positionFloats == 0 || streams_[0].stride < layout_.size) return D3DERR_INVALIDCALL;
    ApplyForDraw(key_);
    BindStreams(startVertex, instanced);
    if (instanced)
        glDrawArraysInstanced(PrimitiveMode(type), 0, static_cast<GLsizei>(count), static_cast<GLsizei>(instances));
    else
        glDrawArrays(PrimitiveMode(type), 0, static_cast<GLsizei>(count));
    glBindVertexArray(0);
    ++frameStats_.gpuDraws;
    frameStats_.vertices += count * instances;
    if (ClassOf(type) == kTriangles) frameStats_.triangles += primitiveCount * instances;
    return D3D_OK;
}

HRESULT GlDevice::DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertexIndex, UINT minVertexIndex,
                                       UINT vertexCount, UINT startIndex, UINT primitiveCount)
{
    const UINT count = VerticesForPrimitives(type, primitiveCount);
    const std::int64_t first = static_cast<std::int64_t>(baseVertexIndex) + minVertexIndex;
    if (count == 0 || indices_ == nullptr || first < 0 || baseVertexIndex < 0) return D3DERR_INVALIDCALL;
    if (static_cast<std::uint64_t>(startIndex) + count > indices_->Size() / indices_->IndexSize())
        return D3DERR_INVALIDCALL;
    if (!StreamsCover(static_cast<UINT>(first), vertexCount)) return D3DERR_INVALIDCALL;
    const UINT instances = InstanceCount();
    if (instances == 0) return D3DERR_INVALIDCALL;
    const bool instanced = (streams_[0].frequency & D3DSTREAMSOURCE_INDEXEDDATA) != 0;
    Flush();
    MakeCurrent();
    RefreshKey(ClassOf(type), instanced);
    if (layout_.positionFloats == 0 || streams_[0].stride < layout_.size) return D3DERR_INVALIDCALL;
    ApplyForDraw(key_);
    // NOTE: GLES 3.0 has no base-vertex draws; stream 0 starts at the base vertex instead.
    BindStreams(static_cast<UINT>(baseVertexIndex), instanced);
    Sync(indices_, GL_ELEMENT_ARRAY_BUFFER);
    const GLenum indexType = indices_->IndexSize() == 4 ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT;
    const auto* offset = reinterpret_cast<const void*>(static_cast<std::size_t>(startIndex) * indices_->IndexSize());
    if (instanced)
        glDrawElementsInstanced(PrimitiveMode(type), static_cast<GLsizei>(count), indexType, offset,
                                static_cast<GLsizei>(instances));
    else
        glDrawRangeElements(PrimitiveMode(type), minVertexIndex, minVertexIndex + vertexCount - 1,
                            static_cast<GLsizei>(count), indexType, offset);
    glBindVertexArray(0);
    ++frameStats_.gpuDraws;
    frameStats_.vertices += vertexCount * instances;
    if (ClassOf(type) == kTriangles) frameStats_.triangles += primitiveCount * instances;
    return D3D_OK;
}

void GlDevice::BindTexture(const DrawKey& key)
{
    glActiveTexture(GL_TEXTURE0);
    MemoryTexture* texture = key.texture;
    if (texture == nullptr) {
        glBindTexture(GL_TEXTURE_2D, 0);
        return;
    }
    ++frameStats_.textureBinds;
    Upload(texture);
    glBindTexture(GL_TEXTURE_2D, texture->gpu.name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, WrapMode(key.addressU));
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, WrapMode(key.addressV));
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, MinFilter(key.minFilter, key.mipFilter));
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER,
                    key.magFilter == D3DTEXF_POINT || key.magFilter == D3DTEXF_NONE ? GL_NEAREST : GL_LINEAR);
}

void GlDevice::Upload(MemoryTexture* texture)
{
    Adopt(texture);
    if (texture->gpu.name == 0) {
        glGenTextures(1, &texture->gpu.name);
        glBindTexture(GL_TEXTURE_2D, texture->gpu.name);
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
        texture->gpu.uploadedVersion = texture->Version();
        return;
    }
    if (texture->gpu.uploadedVersion == texture->Version()) return;
    glBindTexture(GL_TEXTURE_2D, texture->gpu.name);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    for (UINT level = 0; level < texture->GetLevelCount(); ++level)
        glTexSubImage2D(GL_TEXTURE_2D, static_cast<GLint>(level), 0, 0, static_cast<GLsizei>(texture->Width(level)),
                        static_cast<GLsizei>(texture->Height(level)), GL_RGBA, GL_UNSIGNED_BYTE,
                        texture->Texels(level));
    texture->gpu.uploadedVersion = texture->Version();
}

bool GlDevice::UseProgramFor(const DrawKey& k)
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
                  "#define uAlphaFunc %u\n",
                  k.pretransformed, k.hasNormal, k.hasDiffuse, k.hasSpecular, k.lighting,
                  k.lighting ? k.colourVertex : 0u, k.lighting ? k.diffuseSource : 0u,
                  k.lighting ? k.ambientSource : 0u, k.lighting ? k.specularSource : 0u,
                  k.lighting ? k.emissiveSource : 0u, lightOn ? 1 : 0, k.specularEnable,
                  k.lighting ? k.normalizeNormals : 0u, k.lighting ? k.localViewer : 0u, k.fogOn ? k.fogMode : 0u,
                  k.instanced, k.texGen, k.texTransform, k.texture != nullptr ? 1 : 0, k.colourOp, k.colourArg1,
                  k.colourArg2, k.alphaOp, k.alphaArg1, k.alphaArg2, k.fogOn, k.alphaTest,
                  k.alphaTest ? k.alphaFunc : 0u);
    if (switches_ == defines) return true;
    auto found = programs_.find(defines);
    if (found == programs_.end()) {
        Program built;
        if (!BuildProgram(defines, built.name, built.uniforms)) {
            // Drawing goes on with the general program, slower but the same.
            built = programs_[std::string()];
        }
        found = programs_.emplace(defines, built).first;
    }
    switches_ = defines;
    program_ = found->second.name;
    u_ = found->second.uniforms;
    glUseProgram(program_);
    return true;
}

void GlDevice::ApplyKey(const DrawKey& k)
{
    UseProgramFor(k);

    // Fixed-function GL state.
    if (k.zEnable) {
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(CompareFunction(k.zFunc));
    } else {
        glDisable(GL_DEPTH_TEST);
    }
    glDepthMask(k.zWrite ? GL_TRUE : GL_FALSE);
    // Direct3D names the winding of the faces to drop as seen on the screen;
    // OpenGL's counter-clockwise front faces are the same faces.
    if (k.cullMode == D3DCULL_NONE || k.primitiveClass != kTriangles) {
        glDisable(GL_CULL_FACE);
    } else {
        glEnable(GL_CULL_FACE);
        glFrontFace(GL_CCW);
        glCullFace(k.cullMode == D3DCULL_CCW ? GL_FRONT : GL_BACK);
    }
    if (k.blendEnable) {
        glEnable(GL_BLEND);
        glBlendFunc(BlendFactor(k.srcBlend), BlendFactor(k.destBlend));
        glBlendEquation(BlendEquation(k.blendOp));
    } else {
        glDisable(GL_BLEND);
    }
    glColorMask((k.colourWrite & 1) != 0, (k.colourWrite & 2) != 0, (k.colourWrite & 4) != 0,
                (k.colourWrite & 8) != 0);
    const D3DVIEWPORT9& vp = k.viewport;
    glViewport(static_cast<GLint>(vp.X), static_cast<GLint>(height_) - static_cast<GLint>(vp.Y + vp.Height),
               static_cast<GLsizei>(vp.Width), static_cast<GLsizei>(vp.Height));
    glDepthRangef(vp.MinZ, vp.MaxZ);
    BindTexture(k);

    // Vertex stage.
    glUniform1i(u_.pretransformed, static_cast<GLint>(k.pretransformed));
    glUniform4f(u_.viewport, static_cast<float>(vp.X), static_cast<float>(vp.Y),
                static_cast<float>(std::max<DWORD>(vp.Width, 1)), static_cast<float>(std::max<DWORD>(vp.Height, 1)));
    if (!k.pretransformed) {
        const D3DMATRIX worldView = MultiplyMatrices(k.world, k.view);
        glUniformMatrix4fv(u_.worldView, 1, GL_FALSE, &worldView.m[0][0]);
        glUniformMatrix4fv(u_.projection, 1, GL_FALSE, &k.projection.m[0][0]);
        float normal[9];
        NormalMatrix(worldView, normal);
        glUniformMatrix3fv(u_.normalMatrix, 1, GL_FALSE, normal);
        if (k.lighting && k.lightIndex >= 0) {
            // The light travels the same way in every point; turn it into view space.
            const D3DVECTOR& d = k.light.Direction;
            const D3DMATRIX& v = k.view;
            float lx = d.x * v._11 + d.y * v._21 + d.z * v._31;
            float ly = d.x * v._12 + d.y * v._22 + d.z * v._32;
            float lz = d.x * v._13 + d.y * v._23 + d.z * v._33;
            const float length = std::sqrt(lx * lx + ly * ly + lz * lz);
            if (length > 0.0f) lx /= length, ly /= length, lz /= length;
            glUniform3f(u_.lightDirection, lx, ly, lz);
        }
    }
    glUniform1i(u_.hasNormal, static_cast<GLint>(k.hasNormal));
    glUniform1i(u_.hasDiffuse, static_cast<GLint>(k.hasDiffuse));
    glUniform1i(u_.hasSpecular, static_cast<GLint>(k.hasSpecular));
    glUniform1i(u_.lighting, static_cast<GLint>(k.lighting));
    if (k.lighting) {
        glUniform1i(u_.colourVertex, static_cast<GLint>(k.colourVertex));
        glUniform4i(u_.materialSource, static_cast<GLint>(k.diffuseSource), static_cast<GLint>(k.ambientSource),
                    static_cast<GLint>(k.specularSource), static_cast<GLint>(k.emissiveSource));
        glUniform4fv(u_.matDiffuse, 1, &k.material.Diffuse.r);
        glUniform4fv(u_.matAmbient, 1, &k.material.Ambient.r);
        glUniform4fv(u_.matSpecular, 1, &k.material.Specular.r);
        glUniform4fv(u_.matEmissive, 1, &k.material.Emissive.r);
        glUniform1f(u_.matPower, k.material.Power);
        float ambient[4];
        ColourValue(k.ambient, ambient);
        glUniform4fv(u_.globalAmbient, 1, ambient);
        // NOTE: only directional lights are emulated; the scene uses no other kind.
        const bool lightOn = k.lightIndex >= 0 && k.light.Type == D3DLIGHT_DIRECTIONAL;
        glUniform1i(u_.lightOn, lightOn ? 1 : 0);
        glUniform4fv(u_.lightDiffuse, 1, &k.light.Diffuse.r);
        glUniform4fv(u_.lightSpecular, 1, &k.light.Specular.r);
        glUniform4fv(u_.lightAmbient, 1, &k.light.Ambient.r);
        glUniform1i(u_.normalizeNormals, static_cast<GLint>(k.normalizeNormals));
        glUniform1i(u_.localViewer, static_cast<GLint>(k.localViewer));
    }
    glUniform1i(u_.specularEnable, static_cast<GLint>(k.specularEnable));
    glUniform1i(u_.fogMode, k.fogOn ? static_cast<GLint>(k.fogMode) : 0);
    glUniform1f(u_.fogStart, DwordToFloat(k.fogStart));
    glUniform1f(u_.fogEnd, DwordToFloat(k.fogEnd));
    glUniform1i(u_.instanced, static_cast<GLint>(k.instanced));
    glUniform1i(u_.texGen, static_cast<GLint>(k.texGen));
    glUniform1i(u_.texTransform, static_cast<GLint>(k.texTransform));
    if (k.texTransform) glUniformMatrix4fv(u_.textureMatrix, 1, GL_FALSE, &k.textureMatrix.m[0][0]);

    // Pixel stage.
    glUniform1i(u_.hasTexture, k.texture != nullptr ? 1 : 0);
    glUniform3i(u_.colourStage, static_cast<GLint>(k.colourOp), static_cast<GLint>(k.colourArg1),
                static_cast<GLint>(k.colourArg2));
    glUniform3i(u_.alphaStage, static_cast<GLint>(k.alphaOp), static_cast<GLint>(k.alphaArg1),
                static_cast<GLint>(k.alphaArg2));
    float factor[4];
    ColourValue(k.textureFactor, factor);
    glUniform4fv(u_.textureFactor, 1, factor);
    glUniform1i(u_.fogOn, static_cast<GLint>(k.fogOn));
    float fog[4];
    ColourValue(k.fogColour, fog);
    glUniform4fv(u_.fogColour, 1, fog);
    glUniform1i(u_.alphaTest, static_cast<GLint>(k.alphaTest));
    glUniform1i(u_.alphaFunc, static_cast<GLint>(k.alphaFunc));
    glUniform1f(u_.alphaRef, static_cast<float>(k.alphaRef));
}

// ---------------------------------------------------------------------------

class GlDirect3D9 final : public IDirect3D9 {
public:
    explicit GlDirect3D9(const GlDeviceOptions& options) : options_(options) {}

    HRESULT CreateDevice(UINT adapter, D3DDEVTYPE, HWND focusWindow, DWORD, D3DPRESENT_PARAMETERS* params,
                         IDirect3DDevice9** device) override
    {
        if (device == nullptr || params == nullptr || adapter != 0) return D3DERR_INVALIDCALL;
        *device = nullptr;
        // Every device type is the same OpenGL device; one that failed fails again.
        if (failed_) return D3DERR_NOTAVAILABLE;
        HWND window = params->hDeviceWindow != nullptr ? params->hDeviceWindow : focusWindow;
        if (window == nullptr || window->nativeWindow == nullptr) {
            LogLine("graphics", "cannot create the graphics device: no window to draw in");
            failed_ = true;
            return D3DERR_INVALIDCALL;
        }
        GlDevice* created = GlDevice::Create(static_cast<SDL_Window*>(window->nativeWindow), *params, options_);
        if (created == nullptr) {
            LogLine("graphics", "cannot create the graphics device on OpenGL");
            failed_ = true;
            return D3DERR_NOTAVAILABLE;
        }
        *device = created;
        return D3D_OK;
    }

private:
    GlDeviceOptions options_;
    bool failed_ = false;
};

}  // namespace

// NOTE: Mesa's software rasteriser takes fresh vertex storage for every
// draw, several megabytes for a frame of crystals and sparks. With glibc's
// default trimming the heap gives that memory back after each draw and the
// kernel maps and zero-fills it again for the next, which cost about 40 % of
// a full frame's CPU time. Keeping freed memory at the top of the heap lets
// it be reused.
static void KeepFreedMemoryForReuse()
{
#ifdef __GLIBC__
    static const bool tuned = mallopt(M_TRIM_THRESHOLD, 256 * 1024 * 1024) != 0;
    (void)tuned;
#endif
}

IDirect3D9* GlDirect3DCreate9WithOptions(UINT sdkVersion, const GlDeviceOptions& options)
{
    if (sdkVersion != D3D_SDK_VERSION) return nullptr;
    KeepFreedMemoryForReuse();
    return new GlDirect3D9(options);
}

IDirect3D9* GlDirect3DCreate9(UINT sdkVersion) { return GlDirect3DCreate9WithOptions(sdkVersion, GlDeviceOptions{}); }
