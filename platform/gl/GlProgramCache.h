// The shader programs of the OpenGL device, one per set of fixed-function
// switches. Every integer switch of the shader becomes a constant in its
// program, so the shader compiler drops what the state does not use: Mesa's
// software rasteriser runs both sides of a branch, and a possible discard
// forbids its early depth test, so a lean program per state costs far less
// per vertex and per pixel. The general program, with every switch a
// uniform, is built first; it proves the shaders compile on this driver and
// stands in for a specialised program that fails to build.
//
// Threading: only on the thread that owns the GL context, which must be
// current when the cache is built, used and destroyed.
#pragma once

#include <epoxy/gl.h>

#include <string>

#include "common/NonCopyable.h"
#include "platform/d3d9/DeviceState.h"
#include <unordered_map>

// Where each uniform of a program lives (-1: compiled away).
struct GlUniforms {
    GLint worldView, projection, normalMatrix, pretransformed, viewport, hasNormal, hasDiffuse, hasSpecular;
    GLint lighting, colourVertex, materialSource, matDiffuse, matAmbient, matSpecular, matEmissive, matPower;
    GLint globalAmbient, lightOn, lightDirection, lightDiffuse, lightSpecular, lightAmbient;
    GLint specularEnable, normalizeNormals, localViewer, fogMode, fogStart, fogEnd;
    GLint texture, hasTexture, colourStage, alphaStage, textureFactor, fogOn, fogColour, alphaTest, alphaFunc,
        alphaRef;
    GLint instanced, texGen, texTransform, textureMatrix;
    GLint pointSprite, hasPointSize, pointSize, pointSizeMin, guardScale;
    GLint blendByIndex;
    GLint worldViews[DeviceState::kWorldMatrices];  // each element of the array has its own
    GLint normalMatrices[DeviceState::kWorldMatrices];
};

struct GlProgram {
    GLuint name = 0;
    GlUniforms uniforms{};
};

class GlProgramCache : NonCopyable {
public:
    GlProgramCache() = default;
    ~GlProgramCache();

    // Builds the general program; false (logged) when the driver cannot.
    bool Init(bool gles);
    // The program for the switches' "#define uName value" lines, built on
    // first use. The empty string names the general program.
    const GlProgram& For(const std::string& defines);

private:
    bool Build(const std::string& defines, GlProgram& program) const;

    bool gles_ = false;
    std::unordered_map<std::string, GlProgram> programs_;
};
