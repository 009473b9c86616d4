// Emission, ageing and drawing of the light sparks.
#include "scenery/LightSet.h"

#include <memory>

LightSet::LightSet()
{
    FillQuad();
}

LightSet::~LightSet()
{
    particles.reset();
}

void LightSet::FillQuad()
{
    static const float uv[4][2] = {{0.0f, 0.0f}, {0.0f, 1.0f}, {1.0f, 1.0f}, {1.0f, 0.0f}};
    for (int corner = 0; corner < 4; ++corner)
        quad[corner] = ParticleVertex{0.0f, 0.0f, 0.0f, 1.0f, 0xFFFFFFFFu, uv[corner][0], uv[corner][1]};
}

bool LightSet::Create(IDirect3DDevice9* device, const std::string& dataDir)
{
    particles = std::make_unique<LightParticle[]>(Capacity);
    firstFreeHint_ = 0;
    if (!firstTexture.LoadFromFile(device, (dataDir + "/light1.bmp").c_str())) return false;
    if (!secondTexture.LoadFromFile(device, (dataDir + "/light2.bmp").c_str())) return false;
    FillQuad();
    return true;
}

bool LightSet::Emit(const SparkRecord& spark)
{
    if (!particles) return false;
    // NOTE: the scan always starts low so that a spark takes the lowest free
    // slot; the hint only skips the run of busy slots every scan would pass.
    for (int slot = firstFreeHint_; slot < Capacity; ++slot) {
        LightParticle& p = particles[slot];
        if (p.life >= 1) continue;
        p.x = spark.x;
        p.y = spark.y;
        p.size = spark.size;
        p.life = spark.life;
        p.lifespan = spark.lifespan;
        p.dx = spark.dx;
        p.dy = spark.dy;
        firstFreeHint_ = p.life >= 1 ? slot + 1 : slot;
        return true;
    }
    firstFreeHint_ = Capacity;
    return false;
}

void LightSet::UpdateParticles(IDirect3DDevice9*, const Matrix4&)
{
    if (!particles) return;
    for (int slot = 0; slot < Capacity; ++slot) {
        LightParticle& p = particles[slot];
        if (p.life > 0 && p.lifespan != -1) {
            p.life -= 1;
            p.x -= p.dx;
            p.y -= p.dy;
            if (p.life < 1 && slot < firstFreeHint_) firstFreeHint_ = slot;
        }
    }
}

int LightSet::LiveCount() const
{
    if (!particles) return 0;
    int live = 0;
    for (int slot = 0; slot < Capacity; ++slot)
        if (particles[slot].life >= 1) ++live;
    return live;
}

void LightSet::DrawParticle(IDirect3DDevice9* device, const LightParticle& p)
{
    if (p.life < 1) return;
    const float f = p.lifespan == -1 ? 1.0f : static_cast<float>(p.life) / static_cast<float>(p.lifespan);
    const float g = f * p.size;
    // NOTE: a spark given more life than its lifespan would overflow into
    // the neighbouring colour bytes; the level is kept within one byte.
    int truncated = static_cast<int>(f * 255.0f);
    truncated = truncated < 0 ? 0 : (truncated > 255 ? 255 : truncated);
    const unsigned level = static_cast<unsigned>(truncated);
    const D3DCOLOR colour = (level << 24) | (level << 16) | (level << 8) | level;
    quad[0].x = p.x - g; quad[0].y = p.y - g;
    quad[1].x = p.x + g; quad[1].y = p.y - g;
    quad[2].x = p.x + g; quad[2].y = p.y + g;
    quad[3].x = p.x - g; quad[3].y = p.y + g;
    for (ParticleVertex& corner : quad) corner.diffuse = colour;
    device->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 2, quad, sizeof(ParticleVertex));
}

void LightSet::DrawParticles(IDirect3DDevice9* device, const Matrix4&)
{
    device->SetRenderState(D3DRS_ZFUNC, D3DCMP_ALWAYS);
    device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    device->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    device->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
    device->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_NONE);
    device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
    device->SetRenderState(D3DRS_FOGENABLE, FALSE);
    device->SetFVF(ParticleVertexFormat);

    if (particles) {
        device->SetTexture(0, firstTexture.texture);
        DrawParticle(device, particles[0]);
        device->SetTexture(0, secondTexture.texture);
        for (int slot = 1; slot < Capacity; ++slot) DrawParticle(device, particles[slot]);
    }

    device->SetRenderState(D3DRS_FOGENABLE, TRUE);
    device->SetTexture(0, nullptr);
    device->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
    device->SetRenderState(D3DRS_LIGHTING, TRUE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    device->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
    device->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
}
