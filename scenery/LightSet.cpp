// Emission, ageing and drawing of the light sparks.
#include "scenery/LightSet.h"

#include <algorithm>
#include <bit>
#include <new>

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
    static const float corner[4][2] = {{-1.0f, -1.0f}, {1.0f, -1.0f}, {1.0f, 1.0f}, {-1.0f, 1.0f}};
    static const float uv[4][2] = {{0.0f, 0.0f}, {0.0f, 1.0f}, {1.0f, 1.0f}, {1.0f, 0.0f}};
    for (int k = 0; k < 4; ++k)
        quad[k] = ParticleVertex{corner[k][0], corner[k][1], 0.0f, 1.0f, 0xFFFFFFFFu, uv[k][0], uv[k][1]};
}

bool LightSet::Create(IDirect3DDevice9* device, const std::string& dataDir)
{
    particles.reset(new (std::nothrow) LightParticle[Capacity]);
    if (!particles) return false;
    live_.clear();
    live_.reserve(Capacity);
    busy_.assign((Capacity + 63) / 64, 0);
    firstFreeWordHint_ = 0;
    if (!firstTexture.LoadFromFile(device, (dataDir + "/light1.bmp").c_str())) return false;
    if (!secondTexture.LoadFromFile(device, (dataDir + "/light2.bmp").c_str())) return false;
    FillQuad();
    return true;
}

void LightSet::SetBusy(int slot, bool busy)
{
    const std::uint64_t bit = std::uint64_t{1} << (slot % 64);
    if (busy) {
        busy_[slot / 64] |= bit;
    } else {
        busy_[slot / 64] &= ~bit;
        if (slot / 64 < firstFreeWordHint_) firstFreeWordHint_ = slot / 64;
    }
}

bool LightSet::Emit(const SparkRecord& spark)
{
    if (!particles) return false;
    // The lowest free slot: the first clear bit after the full words.
    int slot = Capacity;
    const int words = static_cast<int>(busy_.size());
    while (firstFreeWordHint_ < words && busy_[firstFreeWordHint_] == ~std::uint64_t{0}) ++firstFreeWordHint_;
    if (firstFreeWordHint_ < words)
        slot = firstFreeWordHint_ * 64 + std::countr_one(busy_[firstFreeWordHint_]);
    if (slot >= Capacity) return false;
    LightParticle& p = particles[slot];
    p.x = spark.x;
    p.y = spark.y;
    p.size = spark.size;
    p.life = spark.life;
    p.lifespan = spark.lifespan;
    p.dx = spark.dx;
    p.dy = spark.dy;
    // A spark born without life leaves its slot free, as it would any other.
    if (p.life < 1) return true;
    SetBusy(slot, true);
    if (live_.empty() || live_.back() < slot)
        live_.push_back(slot);
    else
        live_.insert(std::upper_bound(live_.begin(), live_.end(), slot), slot);
    return true;
}

void LightSet::UpdateParticles(IDirect3DDevice9* device, const Matrix4& matrix)
{
    if (!particles) return;
    auto kept = live_.begin();
    for (const std::int32_t slot : live_) {
        LightParticle& p = particles[slot];
        if (p.lifespan != -1) {
            p.life -= 1;
            p.x -= p.dx;
            p.y -= p.dy;
        }
        if (p.life >= 1)
            *kept++ = slot;
        else
            SetBusy(slot, false);
    }
    live_.erase(kept, live_.end());
}

InstanceRecord LightSet::Instance(const LightParticle& p)
{
    const float f = p.lifespan == -1 ? 1.0f : static_cast<float>(p.life) / static_cast<float>(p.lifespan);
    // NOTE: a spark given more life than its lifespan would overflow into
    // the neighbouring colour bytes; the level is kept within one byte.
    int truncated = static_cast<int>(f * 255.0f);
    truncated = truncated < 0 ? 0 : (truncated > 255 ? 255 : truncated);
    const unsigned level = static_cast<unsigned>(truncated);
    return InstanceRecord{p.x, p.y, f * p.size, (level << 24) | (level << 16) | (level << 8) | level};
}

bool LightSet::PrepareBuffers(IDirect3DDevice9* device)
{
    if (squareVertices_ && instanceRecords_) return true;
    if (FAILED(device->CreateVertexBuffer(sizeof quad, D3DUSAGE_WRITEONLY, ParticleVertexFormat, D3DPOOL_MANAGED,
                                          squareVertices_.Out(), nullptr)) ||
        FAILED(device->CreateVertexBuffer(Capacity * sizeof(InstanceRecord), D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY,
                                          InstanceRecordFormat, D3DPOOL_DEFAULT, instanceRecords_.Out(), nullptr))) {
        squareVertices_.Reset();
        instanceRecords_.Reset();
        return false;
    }
    void* data = nullptr;
    if (FAILED(squareVertices_.Get()->Lock(0, 0, &data, 0))) return false;
    std::copy(quad, quad + 4, static_cast<ParticleVertex*>(data));
    squareVertices_.Get()->Unlock();
    return true;
}

void LightSet::DrawInstances(IDirect3DDevice9* device, UINT first, UINT count)
{
    if (count == 0) return;
    device->SetStreamSourceFreq(0, D3DSTREAMSOURCE_INDEXEDDATA | count);
    device->SetStreamSource(1, instanceRecords_.Get(), first * sizeof(InstanceRecord), sizeof(InstanceRecord));
    device->DrawPrimitive(D3DPT_TRIANGLEFAN, 0, 2);
}

void LightSet::DrawParticles(IDirect3DDevice9* device, const Matrix4& matrix)
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

    if (particles && !live_.empty() && PrepareBuffers(device)) {
        void* data = nullptr;
        const UINT count = static_cast<UINT>(live_.size());
        if (SUCCEEDED(instanceRecords_.Get()->Lock(0, count * sizeof(InstanceRecord), &data, D3DLOCK_DISCARD))) {
            auto* record = static_cast<InstanceRecord*>(data);
            for (const std::int32_t slot : live_) *record++ = Instance(particles[slot]);
            instanceRecords_.Get()->Unlock();
            device->SetStreamSource(0, squareVertices_.Get(), 0, sizeof(ParticleVertex));
            device->SetStreamSourceFreq(1, D3DSTREAMSOURCE_INSTANCEDATA | 1u);
            // Slot 0 has a glow of its own.
            const UINT firstShared = live_.front() == 0 ? 1u : 0u;
            if (firstShared == 1) {
                device->SetTexture(0, firstTexture.texture);
                DrawInstances(device, 0, 1);
            }
            device->SetTexture(0, secondTexture.texture);
            DrawInstances(device, firstShared, count - firstShared);
            device->SetStreamSourceFreq(0, 1);
            device->SetStreamSourceFreq(1, 1);
            device->SetStreamSource(0, nullptr, 0, 0);
            device->SetStreamSource(1, nullptr, 0, 0);
        }
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
