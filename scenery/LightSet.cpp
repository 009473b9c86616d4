// Emission, ageing and drawing of the light sparks.
#include "scenery/LightSet.h"

#include <algorithm>
#include <bit>
#include <memory>

#include "platform/d3d9/DeviceState.h"

LightSet::LightSet() = default;

LightSet::~LightSet()
{
    particles.reset();
}

bool LightSet::Create(IDirect3DDevice9* device, const std::string& dataDir)
{
    particles = std::make_unique<LightParticle[]>(Capacity);
    live_.clear();
    live_.reserve(Capacity);
    busy_.assign((Capacity + 63) / 64, 0);
    firstFreeWordHint_ = 0;
    if (FAILED(device->CreateVertexBuffer(Capacity * sizeof(SparkVertex), D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY,
                                          SparkVertexFormat, D3DPOOL_DEFAULT, vertices_.Out(), nullptr)))
        return false;
    if (!firstTexture.LoadFromFile(device, (dataDir + "/light1.bmp").c_str())) return false;
    if (!secondTexture.LoadFromFile(device, (dataDir + "/light2.bmp").c_str())) return false;
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
    p = spark;
    // A spark born without life leaves its slot free, as it would any other.
    if (p.life < 1) return true;
    SetBusy(slot, true);
    if (live_.empty() || live_.back() < slot)
        live_.push_back(slot);
    else
        live_.insert(std::upper_bound(live_.begin(), live_.end(), slot), slot);
    return true;
}

void LightSet::UpdateParticles(IDirect3DDevice9*, const Matrix4&)
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

SparkVertex LightSet::Vertex(const LightParticle& p)
{
    const float f = p.lifespan == -1 ? 1.0f : static_cast<float>(p.life) / static_cast<float>(p.lifespan);
    // NOTE: a spark given more life than its lifespan would overflow into
    // the neighbouring colour bytes; the level is kept within one byte.
    int truncated = static_cast<int>(f * 255.0f);
    truncated = truncated < 0 ? 0 : (truncated > 255 ? 255 : truncated);
    const unsigned level = static_cast<unsigned>(truncated);
    // The square reached from the centre by f * size each way.
    const float half = f * p.size;
    return SparkVertex{p.x, p.y, 0.0f, half + half, (level << 24) | (level << 16) | (level << 8) | level};
}

bool LightSet::FillVertices()
{
    if (!vertices_ || live_.empty()) return false;
    void* bytes = nullptr;
    const UINT size = static_cast<UINT>(live_.size() * sizeof(SparkVertex));
    if (FAILED(vertices_.Get()->Lock(0, size, &bytes, D3DLOCK_DISCARD)) || bytes == nullptr) return false;
    auto* out = static_cast<SparkVertex*>(bytes);
    for (const std::int32_t slot : live_) *out++ = Vertex(particles[slot]);
    vertices_.Get()->Unlock();
    return true;
}

void LightSet::DrawPoints(IDirect3DDevice9* device)
{
    // The transforms map a pixel position to the same pixel: x from the
    // viewport's left edge and y from its top down, half-way into depth.
    D3DMATRIX world{}, view{}, projection{};
    device->GetTransform(D3DTS_WORLD, &world);
    device->GetTransform(D3DTS_VIEW, &view);
    device->GetTransform(D3DTS_PROJECTION, &projection);
    D3DVIEWPORT9 viewport{};
    device->GetViewport(&viewport);
    const float width = static_cast<float>(viewport.Width > 0 ? viewport.Width : 1);
    const float height = static_cast<float>(viewport.Height > 0 ? viewport.Height : 1);
    D3DMATRIX pixels{};
    pixels._11 = 2.0f / width;
    pixels._22 = -2.0f / height;
    pixels._33 = 1.0f;
    pixels._41 = -1.0f - 2.0f * static_cast<float>(viewport.X) / width;
    pixels._42 = 1.0f + 2.0f * static_cast<float>(viewport.Y) / height;
    pixels._43 = 0.5f;
    pixels._44 = 1.0f;
    const D3DMATRIX identity = MatrixIdentity();
    device->SetTransform(D3DTS_WORLD, &identity);
    device->SetTransform(D3DTS_VIEW, &identity);
    device->SetTransform(D3DTS_PROJECTION, &pixels);

    // NOTE: the glow pictures are symmetric about their diagonal, so the
    // point sprite's coordinates (u across, v down) show them as the
    // squares did, whose u ran down and v across.
    device->SetStreamSource(0, vertices_.Get(), 0, sizeof(SparkVertex));
    const UINT count = static_cast<UINT>(live_.size());
    UINT first = 0;
    // Slot 0 has a glow of its own.
    if (live_.front() == 0) {
        device->SetTexture(0, firstTexture.texture);
        device->DrawPrimitive(D3DPT_POINTLIST, 0, 1);
        first = 1;
    }
    if (first < count) {
        device->SetTexture(0, secondTexture.texture);
        device->DrawPrimitive(D3DPT_POINTLIST, first, count - first);
    }
    device->SetStreamSource(0, nullptr, 0, 0);

    device->SetTransform(D3DTS_WORLD, &world);
    device->SetTransform(D3DTS_VIEW, &view);
    device->SetTransform(D3DTS_PROJECTION, &projection);
}

void LightSet::UseSparkState(IDirect3DDevice9* device)
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
}

void LightSet::DrawParticles(IDirect3DDevice9* device, const Matrix4&)
{
    UseSparkState(device);
    // Each spark's side comes with its vertex, in pixels. With no lower
    // limit a spark narrower than a pixel stays as small as its square
    // would be, lighting a pixel only where it covers the pixel's centre.
    device->SetRenderState(D3DRS_POINTSPRITEENABLE, TRUE);
    device->SetRenderState(D3DRS_POINTSCALEENABLE, FALSE);
    device->SetRenderState(D3DRS_POINTSIZE_MIN, FloatToDword(0.0f));
    device->SetFVF(SparkVertexFormat);

    if (particles && FillVertices()) DrawPoints(device);

    device->SetRenderState(D3DRS_POINTSPRITEENABLE, FALSE);
    device->SetRenderState(D3DRS_POINTSIZE_MIN, FloatToDword(1.0f));
    device->SetRenderState(D3DRS_FOGENABLE, TRUE);
    device->SetTexture(0, nullptr);
    device->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
    device->SetRenderState(D3DRS_LIGHTING, TRUE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    device->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
    device->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
}
