// The OpenGL device's back end; see GlBackend.h.
#include "platform/gl/GlBackend.h"

#include <algorithm>
#include <cmath>

#include "common/Log.h"

namespace {

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

}  // namespace

GlBackend::GlBackend(GpuTextureCache& textureOwner, GpuBufferCache& bufferOwner, DeviceFrameStats& stats,
                     bool skipUnchangedState)
    : textureOwner_(textureOwner), bufferOwner_(bufferOwner), stats_(stats), state_(skipUnchangedState)
{
}

bool GlBackend::Init(UINT width, UINT height, bool gles)
{
    if (!programs_.Init(gles)) return false;
    if (!BuildBackBuffer(width, height)) return false;

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
    // Points take their size from the vertex stage (always so in OpenGL ES).
    if (!gles) glEnable(GL_PROGRAM_POINT_SIZE);
    state_.Invalidate();
    if (GLenum error = glGetError(); error != GL_NO_ERROR) {
        LogLine("graphics", "OpenGL set-up failed (error 0x%04X)", error);
        return false;
    }
    return true;
}

GlBackend::~GlBackend()
{
    for (MemoryTexture* texture : textures_) {
        if (texture->gpu.name != 0) glDeleteTextures(1, &texture->gpu.name);
        texture->gpu = MemoryTexture::GpuLink{};
    }
    for (BufferBytes* buffer : buffers_) {
        if (buffer->gpu.name != 0) glDeleteBuffers(1, &buffer->gpu.name);
        buffer->gpu = BufferBytes::GpuLink{};
    }
    if (streamArray_) glDeleteVertexArrays(1, &streamArray_);
    DeleteBackBuffer();
    glDeleteBuffers(kVertexBuffers, vertexBuffers_);
    glDeleteVertexArrays(kVertexBuffers, vertexArrays_);
}

bool GlBackend::Reset(UINT width, UINT height)
{
    if ((width != width_ || height != height_) && !BuildBackBuffer(width, height)) return false;
    state_.Invalidate();
    appliedValid_ = false;
    return true;
}

bool GlBackend::BuildBackBuffer(UINT width, UINT height)
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
    state_.Invalidate();
    appliedValid_ = false;
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        LogLine("graphics", "cannot build the %ux%u back buffer", width, height);
        return false;
    }
    width_ = width;
    height_ = height;
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClearDepthf(1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    return true;
}

void GlBackend::DeleteBackBuffer()
{
    if (framebuffer_) glDeleteFramebuffers(1, &framebuffer_);
    if (colourBuffer_) glDeleteRenderbuffers(1, &colourBuffer_);
    if (depthBuffer_) glDeleteRenderbuffers(1, &depthBuffer_);
    framebuffer_ = colourBuffer_ = depthBuffer_ = 0;
}

void GlBackend::Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR colour, float z,
                      const D3DVIEWPORT9& vp)
{
    state_.Framebuffer(framebuffer_);
    GLbitfield mask = 0;
    if (flags & D3DCLEAR_TARGET) {
        float c[4];
        ColourValue(colour, c);
        glClearColor(c[0], c[1], c[2], c[3]);
        state_.ColourMask(true, true, true, true);
        mask |= GL_COLOR_BUFFER_BIT;
    }
    if (flags & D3DCLEAR_ZBUFFER) {
        glClearDepthf(std::clamp(z, 0.0f, 1.0f));
        state_.DepthMask(true);
        mask |= GL_DEPTH_BUFFER_BIT;
    }
    CountStateCalls();
    // The masks a draw's key governs may have changed.
    appliedValid_ = false;
    if (mask == 0) return;

    const LONG vx0 = static_cast<LONG>(vp.X), vy0 = static_cast<LONG>(vp.Y);
    const LONG vx1 = vx0 + static_cast<LONG>(vp.Width), vy1 = vy0 + static_cast<LONG>(vp.Height);
    state_.Capability(GL_SCISSOR_TEST, true);
    auto clearRect = [&](LONG x0, LONG y0, LONG x1, LONG y1) {
        x0 = std::max(x0, vx0), y0 = std::max(y0, vy0), x1 = std::min(x1, vx1), y1 = std::min(y1, vy1);
        if (x1 <= x0 || y1 <= y0) return;
        state_.Scissor(x0, static_cast<GLint>(height_) - y1, x1 - x0, y1 - y0);
        glClear(mask);
    };
    if (count == 0 || rects == nullptr) {
        clearRect(vx0, vy0, vx1, vy1);
    } else {
        for (DWORD i = 0; i < count; ++i) clearRect(rects[i].x1, rects[i].y1, rects[i].x2, rects[i].y2);
    }
    state_.Capability(GL_SCISSOR_TEST, false);
    // The scissor goes through the cache only to keep it true; clearing is
    // not drawing, so those calls are not counted as a draw's state calls.
    state_.TakeCalls();
}

void GlBackend::Blit(int dw, int dh)
{
    glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer_);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    state_.Capability(GL_SCISSOR_TEST, false);
    state_.ColourMask(true, true, true, true);
    state_.Viewport(0, 0, dw, dh);
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
    // Presenting is not drawing: its calls are not the frame's state calls.
    state_.TakeCalls();
}

void GlBackend::AfterSwap()
{
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    appliedValid_ = false;
}

bool GlBackend::ReadBack(std::vector<std::uint8_t>& rgb, UINT& width, UINT& height)
{
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
// Draws

void GlBackend::DrawBatch(const DrawKey& key, const GpuVertex* vertices, std::size_t count)
{
    if (count == 0) return;
    ApplyForDraw(key);
    const int slot = nextBuffer_;
    nextBuffer_ = (nextBuffer_ + 1) % kVertexBuffers;
    glBindVertexArray(vertexArrays_[slot]);
    glBindBuffer(GL_ARRAY_BUFFER, vertexBuffers_[slot]);
    const std::size_t bytes = count * sizeof(GpuVertex);
    // Storage grows once and is then rewritten in place; with the buffers
    // taking turns, the one written was last drawn from several batches ago.
    if (bytes > bufferCapacity_[slot]) {
        bufferCapacity_[slot] = std::max(bytes, std::size_t{1} << 20);
        glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(bufferCapacity_[slot]), nullptr, GL_STREAM_DRAW);
    }
    glBufferSubData(GL_ARRAY_BUFFER, 0, static_cast<GLsizeiptr>(bytes), vertices);
    stats_.uploadBytes += static_cast<std::uint32_t>(bytes);
    const GLenum mode = key.primitiveClass == kTriangles ? GL_TRIANGLES
                        : key.primitiveClass == kLines   ? GL_LINES
                                                         : GL_POINTS;
    glDrawArrays(mode, 0, static_cast<GLsizei>(count));
    ++stats_.gpuDraws;
    stats_.vertices += static_cast<std::uint32_t>(count);
}

void GlBackend::DrawBuffers(const DrawKey& key, const VertexLayout& layout, const DeviceDraw& draw)
{
    ApplyForDraw(key);
    BindStreams(layout, draw.streams, draw.firstVertex, draw.instanced, key.hasPointSize != 0);
    const GLenum mode = PrimitiveMode(draw.type);
    const auto count = static_cast<GLsizei>(draw.count);
    const auto instances = static_cast<GLsizei>(draw.instances);
    if (draw.indexBuffer == nullptr) {
        if (draw.instanced)
            glDrawArraysInstanced(mode, 0, count, instances);
        else
            glDrawArrays(mode, 0, count);
    } else {
        Sync(draw.indexBuffer, GL_ELEMENT_ARRAY_BUFFER);
        const GLenum indexType = draw.indexSize == 4 ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT;
        const auto* offset = reinterpret_cast<const void*>(static_cast<std::size_t>(draw.startIndex) * draw.indexSize);
        if (draw.instanced)
            glDrawElementsInstanced(mode, count, indexType, offset, instances);
        else
            glDrawRangeElements(mode, draw.minIndex, draw.minIndex + draw.vertexCount - 1, count, indexType, offset);
    }
    glBindVertexArray(0);
    ++stats_.gpuDraws;
    stats_.vertices += draw.vertexCount * draw.instances;
}

void GlBackend::ApplyForDraw(const DrawKey& key)
{
    state_.Framebuffer(framebuffer_);
    if (!appliedValid_ || !SameKey(appliedKey_, key)) {
        ApplyKey(key);
        appliedKey_ = key;
        appliedValid_ = true;
    } else if (key.texture != nullptr && key.texture->gpu.uploadedVersion != key.texture->Version()) {
        BindTexture(key);
    }
    CountStateCalls();
}

void GlBackend::Sync(BufferBytes* buffer, GLenum target)
{
    if (buffer->gpu.cache != &bufferOwner_) {
        if (buffer->gpu.cache != nullptr) buffer->gpu.cache->Forget(buffer);
        buffer->gpu = BufferBytes::GpuLink{};
        buffer->gpu.cache = &bufferOwner_;
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
    stats_.uploadBytes += end - begin;
    buffer->MarkClean();
}

void GlBackend::BindStreams(const VertexLayout& l, const StateKeepingDevice::Stream* streams, UINT firstVertex,
                            bool instanced, bool pointSizes)
{
    glBindVertexArray(streamArray_);
    const StateKeepingDevice::Stream& s = streams[0];
    Sync(s.buffer, GL_ARRAY_BUFFER);
    const GLsizei stride = static_cast<GLsizei>(s.stride);
    const std::size_t base = s.offset + static_cast<std::size_t>(firstVertex) * s.stride;
    auto at = [base](int offset) { return reinterpret_cast<void*>(base + static_cast<std::size_t>(offset)); };
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
    attribute(7, pointSizes ? l.pointSizeOffset : -1, 1, GL_FLOAT, GL_FALSE);
    attribute(8, l.blendIndexOffset, 4, GL_UNSIGNED_BYTE, GL_FALSE);
    if (!instanced) {
        glDisableVertexAttribArray(5);
        glDisableVertexAttribArray(6);
        return;
    }
    const StateKeepingDevice::Stream& i = streams[1];
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

void GlBackend::DropBuffer(BufferBytes* buffer)
{
    if (buffers_.erase(buffer) == 0) return;
    if (buffer->gpu.name != 0) glDeleteBuffers(1, &buffer->gpu.name);
    buffer->gpu = BufferBytes::GpuLink{};
}
