// A shadow of the OpenGL pipeline state that draws depend on: capabilities,
// depth, cull and blend functions, masks, viewport, the program in use and
// its uniforms, the texture bound to each unit and each texture's sampling
// parameters. Every setter compares with the shadow and calls GL only when
// the value differs, and counts the calls it makes, so a frame that draws
// what the last one drew issues no state calls it does not need.
//
// Threading: used only on the thread that owns the GL context. Whoever
// changes GL state behind the cache's back must call Invalidate (or go
// through the cache), or the cache would skip a call that is needed.
#pragma once

#include <epoxy/gl.h>

#include <array>
#include <cstdint>
#include <unordered_map>
#include <vector>

class GlStateCache {
public:
    static constexpr unsigned kTextureUnits = 8;

    // Off: every setter calls GL (to measure what the cache saves).
    explicit GlStateCache(bool skipUnchanged = true) : skipUnchanged_(skipUnchanged) {}

    // Forgets what is known; the next setter of each value calls GL.
    void Invalidate();

    void Capability(GLenum capability, bool on);  // GL_DEPTH_TEST, GL_CULL_FACE, GL_BLEND, GL_SCISSOR_TEST
    void DepthFunc(GLenum function);
    void DepthMask(bool write);
    void FrontFace(GLenum winding);
    void CullFace(GLenum face);
    void BlendFunc(GLenum source, GLenum destination);
    void BlendEquation(GLenum equation);
    void ColourMask(bool r, bool g, bool b, bool a);
    void Viewport(GLint x, GLint y, GLsizei width, GLsizei height);
    void Scissor(GLint x, GLint y, GLsizei width, GLsizei height);
    void DepthRange(float nearZ, float farZ);
    void Framebuffer(GLuint framebuffer);

    // The uniforms below are those of the program in use.
    void UseProgram(GLuint program);
    void Uniform1i(GLint location, GLint value);
    void Uniform3i(GLint location, GLint x, GLint y, GLint z);
    void Uniform4i(GLint location, GLint x, GLint y, GLint z, GLint w);
    void Uniform1f(GLint location, float value);
    void Uniform2f(GLint location, float x, float y);
    void Uniform3f(GLint location, float x, float y, float z);
    void Uniform4fv(GLint location, const float* values);
    void UniformMatrix3fv(GLint location, const float* values);
    void UniformMatrix4fv(GLint location, const float* values);
    void UniformMatrix4x3fv(GLint location, const float* values);

    // Binds a 2D texture to a unit (0 unbinds).
    void BindTexture(unsigned unit, GLuint texture);
    // The sampling parameters of the texture bound to `unit`.
    void TextureParameters(unsigned unit, GLint wrapS, GLint wrapT, GLint minFilter, GLint magFilter);
    // A texture about to be deleted (its name may come back for another).
    void ForgetTexture(GLuint texture);
    // The texture bound to a unit, as the cache knows it (0 when unknown).
    GLuint BoundTexture(unsigned unit) const { return known_ ? textures_[unit] : 0; }

    // State calls issued since the last TakeCalls.
    std::uint32_t TakeCalls()
    {
        const std::uint32_t calls = calls_;
        calls_ = 0;
        return calls;
    }

private:
    // True when the value differs from the shadow (or is unknown); stores it.
    template <typename T>
    bool Changed(T& shadow, const T& value);
    // Compares and stores a uniform's bytes in the program in use's shadow.
    bool UniformChanged(GLint location, const void* bytes, std::size_t size);
    void ActiveUnit(unsigned unit);

    struct UniformValue {
        std::array<std::uint8_t, 64> bytes{};
        std::uint8_t size = 0;  // 0: unknown
    };
    struct Sampling {
        GLint wrapS = 0, wrapT = 0, minFilter = 0, magFilter = 0;
        bool operator==(const Sampling&) const = default;
    };

    bool skipUnchanged_;
    bool known_ = false;  // false: nothing below is trusted
    std::uint32_t calls_ = 0;
    std::array<int, 4> capabilities_{};  // depth test, cull face, blend, scissor test: -1 unknown
    GLenum depthFunc_ = 0;
    int depthMask_ = -1;
    GLenum frontFace_ = 0, cullFace_ = 0;
    std::array<GLenum, 2> blendFunc_{};
    GLenum blendEquation_ = 0;
    int colourMask_ = -1;
    std::array<GLint, 4> viewport_{};
    std::array<GLint, 4> scissor_{};
    std::array<float, 2> depthRange_{};
    GLuint framebuffer_ = 0;
    GLuint program_ = 0;
    std::vector<UniformValue>* uniforms_ = nullptr;  // the program in use's
    std::unordered_map<GLuint, std::vector<UniformValue>> programUniforms_;
    unsigned activeUnit_ = 0;
    std::array<GLuint, kTextureUnits> textures_{};
    std::unordered_map<GLuint, Sampling> sampling_;  // by texture name
};
