// The GL state shadow; see GlStateCache.h.
#include "platform/gl/GlStateCache.h"

#include <cstring>

namespace {

int CapabilitySlot(GLenum capability)
{
    switch (capability) {
    case GL_DEPTH_TEST: return 0;
    case GL_CULL_FACE: return 1;
    case GL_SCISSOR_TEST: return 3;
    default: return 2;  // GL_BLEND
    }
}

}  // namespace

void GlStateCache::Invalidate()
{
    // Uniforms and sampling parameters belong to programs and textures, which
    // nobody else touches; only the context-wide state is forgotten.
    known_ = false;
    capabilities_.fill(-1);
    // GL_ZERO is 0, so unknown enums are all ones.
    depthFunc_ = ~GLenum{0};
    depthMask_ = -1;
    frontFace_ = cullFace_ = ~GLenum{0};
    blendFunc_.fill(~GLenum{0});
    blendEquation_ = ~GLenum{0};
    colourMask_ = -1;
    viewport_.fill(-1);
    scissor_.fill(-1);
    depthRange_.fill(-1.0f);
    framebuffer_ = ~GLuint{0};
    program_ = ~GLuint{0};
    uniforms_ = nullptr;
    activeUnit_ = ~0u;
    textures_.fill(~GLuint{0});
}

template <typename T>
bool GlStateCache::Changed(T& shadow, const T& value)
{
    if (!known_) {
        // The first call after Invalidate: everything else is still unknown.
        Invalidate();
        known_ = true;
    }
    if (skipUnchanged_ && shadow == value) return false;
    shadow = value;
    ++calls_;
    return true;
}

void GlStateCache::Capability(GLenum capability, bool on)
{
    if (!Changed(capabilities_[CapabilitySlot(capability)], on ? 1 : 0)) return;
    if (on)
        glEnable(capability);
    else
        glDisable(capability);
}

void GlStateCache::DepthFunc(GLenum function)
{
    if (Changed(depthFunc_, function)) glDepthFunc(function);
}

void GlStateCache::DepthMask(bool write)
{
    if (Changed(depthMask_, write ? 1 : 0)) glDepthMask(write ? GL_TRUE : GL_FALSE);
}

void GlStateCache::FrontFace(GLenum winding)
{
    if (Changed(frontFace_, winding)) glFrontFace(winding);
}

void GlStateCache::CullFace(GLenum face)
{
    if (Changed(cullFace_, face)) glCullFace(face);
}

void GlStateCache::BlendFunc(GLenum source, GLenum destination)
{
    if (Changed(blendFunc_, std::array<GLenum, 2>{source, destination})) glBlendFunc(source, destination);
}

void GlStateCache::BlendEquation(GLenum equation)
{
    if (Changed(blendEquation_, equation)) glBlendEquation(equation);
}

void GlStateCache::ColourMask(bool r, bool g, bool b, bool a)
{
    const int mask = (r ? 1 : 0) | (g ? 2 : 0) | (b ? 4 : 0) | (a ? 8 : 0);
    if (Changed(colourMask_, mask)) glColorMask(r, g, b, a);
}

void GlStateCache::Viewport(GLint x, GLint y, GLsizei width, GLsizei height)
{
    if (Changed(viewport_, std::array<GLint, 4>{x, y, width, height})) glViewport(x, y, width, height);
}

void GlStateCache::Scissor(GLint x, GLint y, GLsizei width, GLsizei height)
{
    if (Changed(scissor_, std::array<GLint, 4>{x, y, width, height})) glScissor(x, y, width, height);
}

void GlStateCache::DepthRange(float nearZ, float farZ)
{
    if (Changed(depthRange_, std::array<float, 2>{nearZ, farZ})) glDepthRangef(nearZ, farZ);
}

void GlStateCache::Framebuffer(GLuint framebuffer)
{
    if (Changed(framebuffer_, framebuffer)) glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
}

void GlStateCache::UseProgram(GLuint program)
{
    if (Changed(program_, program)) glUseProgram(program);
    uniforms_ = &programUniforms_[program];
}

bool GlStateCache::UniformChanged(GLint location, const void* bytes, std::size_t size)
{
    // A uniform the compiler dropped takes no call.
    if (location < 0 || uniforms_ == nullptr) return false;
    std::vector<UniformValue>& values = *uniforms_;
    if (static_cast<std::size_t>(location) >= values.size()) values.resize(static_cast<std::size_t>(location) + 1);
    UniformValue& shadow = values[static_cast<std::size_t>(location)];
    if (skipUnchanged_ && shadow.size == size && std::memcmp(shadow.bytes.data(), bytes, size) == 0) return false;
    std::memcpy(shadow.bytes.data(), bytes, size);
    shadow.size = static_cast<std::uint8_t>(size);
    ++calls_;
    return true;
}

void GlStateCache::Uniform1i(GLint location, GLint value)
{
    if (UniformChanged(location, &value, sizeof value)) glUniform1i(location, value);
}

void GlStateCache::Uniform3i(GLint location, GLint x, GLint y, GLint z)
{
    const GLint v[3] = {x, y, z};
    if (UniformChanged(location, v, sizeof v)) glUniform3i(location, x, y, z);
}

void GlStateCache::Uniform4i(GLint location, GLint x, GLint y, GLint z, GLint w)
{
    const GLint v[4] = {x, y, z, w};
    if (UniformChanged(location, v, sizeof v)) glUniform4i(location, x, y, z, w);
}

void GlStateCache::Uniform1f(GLint location, float value)
{
    if (UniformChanged(location, &value, sizeof value)) glUniform1f(location, value);
}

void GlStateCache::Uniform2f(GLint location, float x, float y)
{
    const float v[2] = {x, y};
    if (UniformChanged(location, v, sizeof v)) glUniform2f(location, x, y);
}

void GlStateCache::Uniform3f(GLint location, float x, float y, float z)
{
    const float v[3] = {x, y, z};
    if (UniformChanged(location, v, sizeof v)) glUniform3f(location, x, y, z);
}

void GlStateCache::Uniform4fv(GLint location, const float* values)
{
    if (UniformChanged(location, values, 4 * sizeof(float))) glUniform4fv(location, 1, values);
}

void GlStateCache::UniformMatrix3fv(GLint location, const float* values)
{
    if (UniformChanged(location, values, 9 * sizeof(float))) glUniformMatrix3fv(location, 1, GL_FALSE, values);
}

void GlStateCache::UniformMatrix4fv(GLint location, const float* values)
{
    if (UniformChanged(location, values, 16 * sizeof(float))) glUniformMatrix4fv(location, 1, GL_FALSE, values);
}

void GlStateCache::UniformMatrix4x3fv(GLint location, const float* values)
{
    if (UniformChanged(location, values, 12 * sizeof(float))) glUniformMatrix4x3fv(location, 1, GL_FALSE, values);
}

void GlStateCache::ActiveUnit(unsigned unit)
{
    if (Changed(activeUnit_, unit)) glActiveTexture(GL_TEXTURE0 + unit);
}

void GlStateCache::BindTexture(unsigned unit, GLuint texture)
{
    if (unit >= kTextureUnits) return;
    // Checked first, so that a binding already in force selects no unit.
    if (known_ && skipUnchanged_ && textures_[unit] == texture) return;
    ActiveUnit(unit);
    if (Changed(textures_[unit], texture)) glBindTexture(GL_TEXTURE_2D, texture);
}

void GlStateCache::TextureParameters(unsigned unit, GLint wrapS, GLint wrapT, GLint minFilter, GLint magFilter)
{
    if (unit >= kTextureUnits || !known_ || textures_[unit] == 0) return;
    Sampling& shadow = sampling_[textures_[unit]];
    const Sampling wanted{wrapS, wrapT, minFilter, magFilter};
    if (skipUnchanged_ && shadow == wanted) return;
    ActiveUnit(unit);
    auto set = [this](GLenum name, GLint had, GLint value) {
        if (skipUnchanged_ && had == value) return;
        glTexParameteri(GL_TEXTURE_2D, name, value);
        ++calls_;
    };
    set(GL_TEXTURE_WRAP_S, shadow.wrapS, wrapS);
    set(GL_TEXTURE_WRAP_T, shadow.wrapT, wrapT);
    set(GL_TEXTURE_MIN_FILTER, shadow.minFilter, minFilter);
    set(GL_TEXTURE_MAG_FILTER, shadow.magFilter, magFilter);
    shadow = wanted;
}

void GlStateCache::ForgetTexture(GLuint texture)
{
    sampling_.erase(texture);
    // GL unbinds a deleted texture from every unit.
    for (GLuint& bound : textures_)
        if (bound == texture) bound = 0;
}
