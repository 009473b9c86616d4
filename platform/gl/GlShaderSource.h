// The one shader program of the OpenGL device: Direct3D 9's fixed-function
// vertex and pixel pipeline as far as the installation uses it.
//
// Vertex stage: world-view-projection with Direct3D's row-vector matrices
// (uploaded as they are, so `matrix * v` computes v * M), or one of sixteen
// world matrices named by the vertex (indexed vertex blending), pre-transformed
// screen-space vertices, per-vertex lighting with one directional light,
// the global ambient and the material (with the colour-vertex material
// sources), optional specular, and linear vertex fog by range or depth.
// Pixel stage: texture stage 0's colour and alpha operations, specular add,
// fog blend and the alpha test.
//
// The bodies use only what GLSL ES 3.00 also has; the version line is
// chosen by the device (desktop "330 core" or "300 es" with precisions).
#pragma once

namespace glshader {

inline constexpr const char* kVertexBody = R"GLSL(
layout(location = 0) in vec4 aPosition;
layout(location = 1) in vec3 aNormal;
layout(location = 2) in vec4 aDiffuse;   // bytes B, G, R, A of a D3DCOLOR
layout(location = 3) in vec4 aSpecular;  // likewise
layout(location = 4) in vec2 aTexCoord;
layout(location = 5) in vec4 aInstance;        // x, y, scale of an instance record
layout(location = 6) in vec4 aInstanceColour;  // its colour, bytes B, G, R, A
layout(location = 7) in float aPointSize;      // D3DFVF_PSIZE: a point's side in pixels
layout(location = 8) in vec4 aBlendIndices;    // matrix indices, bytes 0 ... 255

uniform mat4 uWorldView;
uniform mat4 uProjection;
uniform mat3 uNormalMatrix;
// Indexed vertex blending, one matrix per vertex: 0 off; 1 rigid world-view
// matrices, whose own 3 x 3 part turns the normals; 2 any affine ones.
uniform int uBlendByIndex;
uniform mat4x3 uWorldViews[16];    // world matrix n times the view, fourth column dropped
uniform mat3 uNormalMatrices[16];  // their normal matrices, for uBlendByIndex 2
uniform int uPretransformed;
uniform vec4 uViewport;          // x, y, width, height in back-buffer pixels
uniform int uHasNormal;
uniform int uHasDiffuse;
uniform int uHasSpecular;
uniform int uLighting;
uniform int uColorVertex;
uniform ivec4 uMaterialSource;   // diffuse, ambient, specular, emissive: 0 material, 1 colour 1, 2 colour 2
uniform vec4 uMatDiffuse;
uniform vec4 uMatAmbient;
uniform vec4 uMatSpecular;
uniform vec4 uMatEmissive;
uniform float uMatPower;
uniform vec4 uGlobalAmbient;
uniform int uLightOn;
uniform vec3 uLightDirection;    // view space, the way the light travels
uniform vec4 uLightDiffuse;
uniform vec4 uLightSpecular;
uniform vec4 uLightAmbient;
uniform int uSpecularEnable;
uniform int uNormalizeNormals;
uniform int uLocalViewer;
uniform int uFogMode;            // 0 none, 1 linear by depth, 2 linear by range, 3 from specular alpha
uniform float uFogStart;
uniform float uFogEnd;
uniform int uInstanced;
uniform int uTexGen;             // 0 the vertex's coordinates, 1 the camera-space normal
uniform int uTexTransform;       // the generated coordinates go through uTextureMatrix
uniform mat4 uTextureMatrix;
uniform int uPointSprite;        // points are squares with the texture spread over them
uniform int uHasPointSize;       // the side comes from aPointSize, else from uPointSize
uniform float uPointSize;
uniform float uPointSizeMin;
uniform vec2 uGuardScale;        // the view's share of the widened view that point sprites are drawn into

out vec4 vDiffuse;
out vec4 vSpecular;
out vec2 vTexCoord;
out float vFog;
flat out float vPointScale;      // rasterised side / the point's own side

vec4 MaterialColour(int source, vec4 material, vec4 colour1, vec4 colour2)
{
    if (uColorVertex != 0) {
        if (source == 1 && uHasDiffuse != 0) return colour1;
        if (source == 2 && uHasSpecular != 0) return colour2;
    }
    return material;
}

void main()
{
    vec4 colour1 = uHasDiffuse != 0 ? aDiffuse.zyxw : vec4(1.0);
    vec4 colour2 = uHasSpecular != 0 ? aSpecular.zyxw : vec4(0.0);
    vec4 position = aPosition;
    if (uInstanced != 0) {
        position.xyz = position.xyz * aInstance.z + vec3(aInstance.xy, 0.0);
        colour1 = aInstanceColour.zyxw;
    }
    mat4 worldView = uWorldView;
    mat3 normalMatrix = uNormalMatrix;
    if (uBlendByIndex != 0) {
        // NOTE: 12 of the 25 floats a general matrix pair needs: the
        // software rasteriser fetches them one vertex at a time.
        int matrix = int(aBlendIndices.x);
        mat4x3 wv = uWorldViews[matrix];
        worldView = mat4(vec4(wv[0], 0.0), vec4(wv[1], 0.0), vec4(wv[2], 0.0), vec4(wv[3], 1.0));
        normalMatrix = uBlendByIndex == 1 ? mat3(wv) : uNormalMatrices[matrix];
    }
    vTexCoord = aTexCoord;
    float side = max(uHasPointSize != 0 ? aPointSize : uPointSize, uPointSizeMin);
    // NOTE: a point narrower than a pixel is rasterised one pixel wide; the
    // pixel stage keeps only what the point itself covers.
    gl_PointSize = max(side, 1.0);
    vPointScale = side > 0.0 ? gl_PointSize / side : 1.0;
    if (uTexGen == 1) {
        vec4 generated = vec4(uHasNormal != 0 ? normalMatrix * aNormal : vec3(0.0), 1.0);
        vTexCoord = (uTexTransform != 0 ? uTextureMatrix * generated : generated).xy;
    }
    vec3 viewPosition = vec3(0.0);

    if (uPretransformed != 0) {
        float w = position.w > 0.0 ? 1.0 / position.w : 1.0;
        vec2 ndc = vec2((position.x - uViewport.x) / uViewport.z * 2.0 - 1.0,
                        1.0 - (position.y - uViewport.y) / uViewport.w * 2.0);
        gl_Position = vec4(ndc * w, (position.z * 2.0 - 1.0) * w, w);
    } else {
        vec4 view = worldView * vec4(position.xyz, 1.0);
        viewPosition = view.xyz;
        vec4 clip = uProjection * view;
        // Direct3D's clip depth runs from 0 to w, OpenGL's from -w to w.
        gl_Position = vec4(clip.xy, clip.z * 2.0 - clip.w, clip.w);
    }
    if (uPointSprite != 0) {
        gl_Position.xy *= uGuardScale;
        // A point sprite without area covers nothing: put it outside the view.
        if (!(side > 0.0)) gl_Position = vec4(2.0, 2.0, 2.0, 1.0);
    }

    if (uLighting != 0 && uPretransformed == 0) {
        vec4 md = MaterialColour(uMaterialSource.x, uMatDiffuse, colour1, colour2);
        vec4 ma = MaterialColour(uMaterialSource.y, uMatAmbient, colour1, colour2);
        vec4 ms = MaterialColour(uMaterialSource.z, uMatSpecular, colour1, colour2);
        vec4 me = MaterialColour(uMaterialSource.w, uMatEmissive, colour1, colour2);
        vec3 n = uHasNormal != 0 ? normalMatrix * aNormal : vec3(0.0);
        if (uNormalizeNormals != 0 && dot(n, n) > 0.0) n = normalize(n);
        vec3 ambient = uGlobalAmbient.rgb;
        vec3 diffuse = vec3(0.0);
        vec3 specular = vec3(0.0);
        if (uLightOn != 0) {
            ambient += uLightAmbient.rgb;
            vec3 toLight = -uLightDirection;
            float nDotL = max(dot(n, toLight), 0.0);
            diffuse = uLightDiffuse.rgb * nDotL;
            if (uSpecularEnable != 0 && nDotL > 0.0) {
                vec3 toEye = uLocalViewer != 0 ? normalize(-viewPosition) : vec3(0.0, 0.0, -1.0);
                vec3 halfway = normalize(toEye + toLight);
                float s = max(dot(n, halfway), 0.0);
                specular = uLightSpecular.rgb * (s > 0.0 ? pow(s, uMatPower) : 0.0);
            }
        }
        vec3 lit = me.rgb + ma.rgb * ambient + md.rgb * diffuse;
        vDiffuse = clamp(vec4(lit, md.a), 0.0, 1.0);
        vSpecular = clamp(vec4(ms.rgb * specular, 0.0), 0.0, 1.0);
    } else {
        vDiffuse = colour1;
        vSpecular = colour2;
    }

    if (uFogMode == 1 || uFogMode == 2) {
        float d = uFogMode == 2 ? length(viewPosition) : viewPosition.z;
        float span = uFogEnd - uFogStart;
        vFog = span != 0.0 ? clamp((uFogEnd - d) / span, 0.0, 1.0) : (d < uFogEnd ? 1.0 : 0.0);
    } else if (uFogMode == 3) {
        vFog = colour2.a;
    } else {
        vFog = 1.0;
    }
}
)GLSL";

inline constexpr const char* kFragmentBody = R"GLSL(
in vec4 vDiffuse;
in vec4 vSpecular;
in vec2 vTexCoord;
in float vFog;
flat in float vPointScale;

uniform sampler2D uTexture;
uniform int uHasTexture;
uniform ivec3 uColourStage;  // operation, argument 1, argument 2
uniform ivec3 uAlphaStage;
uniform vec4 uTextureFactor;
uniform int uSpecularEnable;
uniform int uFogOn;
uniform vec4 uFogColour;
uniform int uAlphaTest;
uniform int uAlphaFunc;
uniform float uAlphaRef;     // 0..255
uniform int uPointSprite;

layout(location = 0) out vec4 fragColour;

vec4 Argument(int argument, vec4 texel)
{
    int source = argument & 7;
    vec4 v = vDiffuse;                 // diffuse, and "current" in stage 0
    if (source == 2) v = texel;
    else if (source == 3) v = uTextureFactor;
    else if (source == 4) v = vSpecular;
    if ((argument & 0x20) != 0) v = vec4(v.a);   // alpha replicate
    if ((argument & 0x10) != 0) v = vec4(1.0) - v;  // complement
    return v;
}

vec4 Operation(ivec3 stage, vec4 texel)
{
    vec4 a1 = Argument(stage.y, texel);
    vec4 a2 = Argument(stage.z, texel);
    int op = stage.x;
    if (op == 1) return vDiffuse;          // disabled: the stage passes "current" on
    if (op == 2) return a1;
    if (op == 3) return a2;
    if (op == 5) return a1 * a2 * 2.0;
    if (op == 6) return a1 * a2 * 4.0;
    if (op == 7) return a1 + a2;
    if (op == 8) return a1 + a2 - 0.5;
    if (op == 9) return (a1 + a2 - 0.5) * 2.0;
    if (op == 10) return a1 - a2;
    if (op == 11) return a1 + a2 - a1 * a2;
    return a1 * a2;                        // modulate and anything not emulated
}

bool Passes(float value, float reference, int func)
{
    if (func == 1) return false;
    if (func == 2) return value < reference;
    if (func == 3) return value == reference;
    if (func == 4) return value <= reference;
    if (func == 5) return value > reference;
    if (func == 6) return value != reference;
    if (func == 7) return value >= reference;
    return true;
}

void main()
{
    vec2 texCoord = vTexCoord;
    if (uPointSprite != 0) {
        // Across the point's own square, u to the right and v down.
        texCoord = (gl_PointCoord - 0.5) * vPointScale + 0.5;
        if (vPointScale > 1.0 && (any(lessThan(texCoord, vec2(0.0))) || any(greaterThanEqual(texCoord, vec2(1.0)))))
            discard;
    }
    // An empty stage reads as opaque white, so "texture times diffuse" is the diffuse colour.
    vec4 texel = uHasTexture != 0 ? texture(uTexture, texCoord) : vec4(1.0);
    vec4 colour;
    if (uColourStage.x == 1) {
        colour = vDiffuse;                 // stage 0 disabled: alpha goes with it
    } else {
        colour.rgb = Operation(uColourStage, texel).rgb;
        colour.a = Operation(uAlphaStage, texel).a;
    }
    colour = clamp(colour, 0.0, 1.0);
    if (uSpecularEnable != 0) colour.rgb = min(colour.rgb + vSpecular.rgb, vec3(1.0));
    if (uAlphaTest != 0 && !Passes(floor(colour.a * 255.0 + 0.5), uAlphaRef, uAlphaFunc)) discard;
    if (uFogOn != 0) colour.rgb = mix(uFogColour.rgb, colour.rgb, vFog);
    fragColour = colour;
}
)GLSL";

}  // namespace glshader
