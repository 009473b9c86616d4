// Building and keeping the device's shader programs; see GlProgramCache.h.
#include "platform/gl/GlProgramCache.h"

#include "common/Log.h"
#include "platform/gl/GlShaderSource.h"

namespace {

// Whether a shader compiled or a program linked (`status`); if not, its log
// goes to the log after `what`.
template <typename GetStatus, typename GetLog>
bool Succeeded(GLuint object, GLenum status, GetStatus getStatus, GetLog getLog, const char* what)
{
    GLint ok = GL_FALSE;
    getStatus(object, status, &ok);
    if (ok) return true;
    char log[2048] = {};
    getLog(object, sizeof log, nullptr, log);
    LogLine("graphics", "%s: %s", what, log);
    return false;
}

GLuint CompileShader(GLenum type, const std::string& source)
{
    GLuint shader = glCreateShader(type);
    const char* text = source.c_str();
    glShaderSource(shader, 1, &text, nullptr);
    glCompileShader(shader);
    if (!Succeeded(shader, GL_COMPILE_STATUS, glGetShaderiv, glGetShaderInfoLog,
                   type == GL_VERTEX_SHADER ? "vertex shader does not compile" : "fragment shader does not compile")) {
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

}  // namespace

GlProgramCache::~GlProgramCache()
{
    for (auto& entry : programs_)
        if (entry.second.name != 0) glDeleteProgram(entry.second.name);
}

bool GlProgramCache::Init(bool gles)
{
    gles_ = gles;
    GlProgram general;
    if (!Build(std::string(), general)) return false;
    programs_[std::string()] = general;
    return true;
}

const GlProgram& GlProgramCache::For(const std::string& defines)
{
    auto found = programs_.find(defines);
    if (found != programs_.end()) return found->second;
    GlProgram built;
    // Drawing goes on with the general program, slower but the same.
    if (!Build(defines, built)) return programs_[std::string()];
    return programs_.emplace(defines, built).first->second;
}

bool GlProgramCache::Build(const std::string& defines, GlProgram& out) const
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
    const GLuint program = glCreateProgram();
    glAttachShader(program, vs);
    glAttachShader(program, fs);
    glLinkProgram(program);
    glDeleteShader(vs);
    glDeleteShader(fs);
    if (!Succeeded(program, GL_LINK_STATUS, glGetProgramiv, glGetProgramInfoLog, "shader program does not link")) {
        glDeleteProgram(program);
        return false;
    }
    auto at = [program](const char* name) { return glGetUniformLocation(program, name); };
    GlUniforms& u = out.uniforms;
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
    u.pointSprite = at("uPointSprite");
    u.hasPointSize = at("uHasPointSize");
    u.pointSize = at("uPointSize");
    u.pointSizeMin = at("uPointSizeMin");
    u.guardScale = at("uGuardScale");
    u.blendByIndex = at("uBlendByIndex");
    for (unsigned i = 0; i < DeviceState::kWorldMatrices; ++i) {
        const std::string index = "[" + std::to_string(i) + "]";
        u.worldViews[i] = at(("uWorldViews" + index).c_str());
        u.normalMatrices[i] = at(("uNormalMatrices" + index).c_str());
    }
    // The sampler reads unit 0 in every program; set once, with the program
    // in use restored so that the state cache's view stays true.
    GLint previous = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &previous);
    glUseProgram(program);
    glUniform1i(u.texture, 0);
    glUseProgram(static_cast<GLuint>(previous));
    out.name = program;
    return true;
}
