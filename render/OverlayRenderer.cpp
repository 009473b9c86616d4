#include "render/OverlayRenderer.h"

#include <imgui.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <vector>

#include "common/Log.h"

namespace {

struct OverlayVertex {
    float x, y, z, rhw;
    D3DCOLOR colour;
    float u, v;
};
constexpr DWORD kOverlayFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;

// The states the overlay sets, read before it draws and put back after.
constexpr D3DRENDERSTATETYPE kRenderStates[] = {
    D3DRS_ZENABLE,        D3DRS_ZWRITEENABLE,  D3DRS_ALPHABLENDENABLE, D3DRS_SRCBLEND,
    D3DRS_DESTBLEND,      D3DRS_BLENDOP,       D3DRS_ALPHATESTENABLE,  D3DRS_LIGHTING,
    D3DRS_FOGENABLE,      D3DRS_CULLMODE,      D3DRS_SPECULARENABLE,   D3DRS_FILLMODE,
    D3DRS_COLORWRITEENABLE, D3DRS_SEPARATEALPHABLENDENABLE,
};
constexpr D3DTEXTURESTAGESTATETYPE kStageStates[] = {
    D3DTSS_COLOROP,   D3DTSS_COLORARG1, D3DTSS_COLORARG2,     D3DTSS_ALPHAOP,
    D3DTSS_ALPHAARG1, D3DTSS_ALPHAARG2, D3DTSS_TEXCOORDINDEX, D3DTSS_TEXTURETRANSFORMFLAGS,
};
constexpr D3DSAMPLERSTATETYPE kSamplerStates[] = {
    D3DSAMP_ADDRESSU, D3DSAMP_ADDRESSV, D3DSAMP_MINFILTER, D3DSAMP_MAGFILTER, D3DSAMP_MIPFILTER,
};

class SavedStates {
public:
    explicit SavedStates(IDirect3DDevice9* device) : device_(device)
    {
        for (std::size_t i = 0; i < std::size(kRenderStates); ++i) device_->GetRenderState(kRenderStates[i], &render_[i]);
        for (std::size_t i = 0; i < std::size(kStageStates); ++i)
            device_->GetTextureStageState(0, kStageStates[i], &stage_[i]);
        device_->GetTextureStageState(1, D3DTSS_COLOROP, &stage1Colour_);
        device_->GetTextureStageState(1, D3DTSS_ALPHAOP, &stage1Alpha_);
        for (std::size_t i = 0; i < std::size(kSamplerStates); ++i)
            device_->GetSamplerState(0, kSamplerStates[i], &sampler_[i]);
        device_->GetTexture(0, &texture_);
        device_->GetFVF(&fvf_);
    }
    ~SavedStates()
    {
        for (std::size_t i = 0; i < std::size(kRenderStates); ++i) device_->SetRenderState(kRenderStates[i], render_[i]);
        for (std::size_t i = 0; i < std::size(kStageStates); ++i)
            device_->SetTextureStageState(0, kStageStates[i], stage_[i]);
        device_->SetTextureStageState(1, D3DTSS_COLOROP, stage1Colour_);
        device_->SetTextureStageState(1, D3DTSS_ALPHAOP, stage1Alpha_);
        for (std::size_t i = 0; i < std::size(kSamplerStates); ++i)
            device_->SetSamplerState(0, kSamplerStates[i], sampler_[i]);
        device_->SetTexture(0, texture_);
        if (texture_ != nullptr) texture_->Release();
        device_->SetFVF(fvf_);
    }
    SavedStates(const SavedStates&) = delete;
    SavedStates& operator=(const SavedStates&) = delete;

private:
    IDirect3DDevice9* device_;
    DWORD render_[std::size(kRenderStates)] = {};
    DWORD stage_[std::size(kStageStates)] = {};
    DWORD stage1Colour_ = 0, stage1Alpha_ = 0;
    DWORD sampler_[std::size(kSamplerStates)] = {};
    IDirect3DTexture9* texture_ = nullptr;
    DWORD fvf_ = 0;
};

void ApplyOverlayStates(IDirect3DDevice9* device)
{
    device->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    device->SetRenderState(D3DRS_BLENDOP, D3DBLENDOP_ADD);
    device->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetRenderState(D3DRS_FOGENABLE, FALSE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetRenderState(D3DRS_SPECULARENABLE, FALSE);
    device->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
    device->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
    device->SetRenderState(D3DRS_SEPARATEALPHABLENDENABLE, FALSE);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    device->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
    device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    device->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    device->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    device->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
    // The atlas is drawn at its own size: nearest texels keep the glyphs sharp.
    device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
    device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
    device->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_NONE);
    device->SetFVF(kOverlayFvf);
}

// ImGui packs colours as R in the low byte; Direct3D as B in the low byte.
D3DCOLOR ToD3DColour(ImU32 colour)
{
    const std::uint32_t r = colour & 0xFFu, g = (colour >> 8) & 0xFFu, b = (colour >> 16) & 0xFFu,
                        a = (colour >> 24) & 0xFFu;
    return (a << 24) | (r << 16) | (g << 8) | b;
}

}  // namespace

OverlayRenderer::OverlayRenderer() = default;

OverlayRenderer::~OverlayRenderer()
{
    if (fontTexture_ != nullptr) fontTexture_->Release();
    if (context_ != nullptr) ImGui::DestroyContext(context_);
}

bool OverlayRenderer::Create(IDirect3DDevice9* device, const std::string& fontFile, float pixelSize, int width,
                             int height)
{
    if (device == nullptr) return false;
    if (context_ == nullptr) context_ = ImGui::CreateContext();
    ImGui::SetCurrentContext(context_);
    ImGuiIO& io = ImGui::GetIO();
    // Nothing is kept between runs, and nothing reads the mouse or keys:
    // the panels only show.
    io.IniFilename = nullptr;
    io.LogFilename = nullptr;
    io.DisplaySize = ImVec2(static_cast<float>(width), static_cast<float>(height));
    io.Fonts->Clear();
    std::error_code missing;
    ImFont* font = nullptr;
    if (!fontFile.empty() && std::filesystem::is_regular_file(fontFile, missing))
        font = io.Fonts->AddFontFromFileTTF(fontFile.c_str(), pixelSize);
    if (font == nullptr) {
        LogWarning("overlay", "cannot read the font \"%s\"; using the built-in one", fontFile.c_str());
        io.Fonts->AddFontDefault();
    }
    unsigned char* pixels = nullptr;
    int atlasWidth = 0, atlasHeight = 0;
    io.Fonts->GetTexDataAsRGBA32(&pixels, &atlasWidth, &atlasHeight);
    if (pixels == nullptr) return false;

    IDirect3DTexture9* texture = nullptr;
    if (FAILED(device->CreateTexture(static_cast<UINT>(atlasWidth), static_cast<UINT>(atlasHeight), 1, 0,
                                     D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr)) ||
        texture == nullptr)
        return false;
    D3DLOCKED_RECT locked{};
    if (FAILED(texture->LockRect(0, &locked, nullptr, 0))) {
        texture->Release();
        return false;
    }
    for (int y = 0; y < atlasHeight; ++y) {
        const unsigned char* from = pixels + static_cast<std::size_t>(y) * atlasWidth * 4;
        auto* to = static_cast<unsigned char*>(locked.pBits) + static_cast<std::size_t>(y) * locked.Pitch;
        for (int x = 0; x < atlasWidth; ++x) {
            // RGBA bytes become the B, G, R, A bytes of A8R8G8B8.
            to[x * 4 + 0] = from[x * 4 + 2];
            to[x * 4 + 1] = from[x * 4 + 1];
            to[x * 4 + 2] = from[x * 4 + 0];
            to[x * 4 + 3] = from[x * 4 + 3];
        }
    }
    texture->UnlockRect(0);
    if (fontTexture_ != nullptr) fontTexture_->Release();
    fontTexture_ = texture;
    io.Fonts->SetTexID(static_cast<ImTextureID>(fontTexture_));
    return true;
}

void OverlayRenderer::Begin(float stepSeconds)
{
    if (context_ == nullptr || fontTexture_ == nullptr) return;
    ImGui::SetCurrentContext(context_);
    ImGui::GetIO().DeltaTime = stepSeconds > 0 ? stepSeconds : 0.05f;
    ImGui::NewFrame();
    begun_ = true;
}

void OverlayRenderer::End(IDirect3DDevice9* device)
{
    if (!begun_) return;
    begun_ = false;
    ImGui::SetCurrentContext(context_);
    ImGui::Render();
    const ImDrawData* data = ImGui::GetDrawData();
    if (device == nullptr || data == nullptr || data->TotalVtxCount == 0) return;

    SavedStates saved(device);
    ApplyOverlayStates(device);
    std::vector<OverlayVertex> vertices;
    for (int l = 0; l < data->CmdListsCount; ++l) {
        const ImDrawList* list = data->CmdLists[l];
        vertices.resize(static_cast<std::size_t>(list->VtxBuffer.Size));
        for (int i = 0; i < list->VtxBuffer.Size; ++i) {
            const ImDrawVert& from = list->VtxBuffer[i];
            vertices[static_cast<std::size_t>(i)] = {from.pos.x, from.pos.y, 0.0f, 1.0f, ToD3DColour(from.col),
                                                     from.uv.x, from.uv.y};
        }
        for (const ImDrawCmd& command : list->CmdBuffer) {
            if (command.UserCallback != nullptr || command.ElemCount == 0) continue;
            // The device has no scissor test; the panels are laid out so that
            // nothing needs clipping, and fully clipped commands are skipped.
            if (command.ClipRect.z <= command.ClipRect.x || command.ClipRect.w <= command.ClipRect.y) continue;
            device->SetTexture(0, static_cast<IDirect3DTexture9*>(command.TextureId));
            const UINT vertexCount = static_cast<UINT>(list->VtxBuffer.Size) - command.VtxOffset;
            device->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, vertexCount, command.ElemCount / 3,
                                           list->IdxBuffer.Data + command.IdxOffset,
                                           sizeof(ImDrawIdx) == 2 ? D3DFMT_INDEX16 : D3DFMT_INDEX32,
                                           vertices.data() + command.VtxOffset, sizeof(OverlayVertex));
        }
    }
}
