#include "render/OverlayRenderer.h"

#include <imgui.h>

#include <cstdint>
#include <filesystem>
#include <vector>

#include "common/Log.h"
#include "platform/d3d9/SavedDeviceState.h"

namespace {

// ImGui packs colours as R in the low byte; Direct3D as B in the low byte.
D3DCOLOR ToD3DColour(ImU32 colour)
{
    const std::uint32_t r = colour & 0xFFu, g = (colour >> 8) & 0xFFu, b = (colour >> 16) & 0xFFu,
                        a = (colour >> 24) & 0xFFu;
    return (a << 24) | (r << 16) | (g << 8) | b;
}

}  // namespace

void OverlayRenderer::ContextDeleter::operator()(ImGuiContext* context) const { ImGui::DestroyContext(context); }

bool OverlayRenderer::Create(IDirect3DDevice9* device, const std::string& fontFile, float pixelSize, int width,
                             int height)
{
    if (device == nullptr) return false;
    if (context_ == nullptr) context_.reset(ImGui::CreateContext());
    ImGui::SetCurrentContext(context_.get());
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
    fontTexture_.Reset(texture);
    io.Fonts->SetTexID(static_cast<ImTextureID>(texture));
    return true;
}

void OverlayRenderer::Begin(float stepSeconds)
{
    if (context_ == nullptr || !fontTexture_) return;
    ImGui::SetCurrentContext(context_.get());
    ImGui::GetIO().DeltaTime = stepSeconds > 0 ? stepSeconds : 0.05f;
    ImGui::NewFrame();
    begun_ = true;
}

void OverlayRenderer::End(IDirect3DDevice9* device)
{
    if (!begun_) return;
    begun_ = false;
    ImGui::SetCurrentContext(context_.get());
    ImGui::Render();
    const ImDrawData* data = ImGui::GetDrawData();
    if (device == nullptr || data == nullptr || data->TotalVtxCount == 0) return;

    SavedDeviceState saved(device);
    // The atlas is drawn at its own size: nearest texels keep the glyphs sharp.
    SetScreenSpaceState(device, D3DTEXF_POINT, D3DTEXF_NONE);
    std::vector<ScreenVertex> vertices;
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
                                           vertices.data() + command.VtxOffset, sizeof(ScreenVertex));
        }
    }
}
