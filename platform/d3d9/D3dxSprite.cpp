#include "platform/d3d9/D3dxSprite.h"

#include <cmath>
#include <optional>
#include <vector>

#include "platform/d3d9/SavedDeviceState.h"

namespace {

// NOTE: between Begin and End the quads are kept and go out at End (or when
// the texture changes) as one draw per run of quads with the same texture,
// in the order drawn, as D3DX's sprite does: pictures that share a texture
// cost one draw however many there are.
class Sprite : public ID3DXSprite {
public:
    explicit Sprite(IDirect3DDevice9* device) : device_(device) { device_->AddRef(); }

    HRESULT Begin() override
    {
        if (saved_) return D3DERR_INVALIDCALL;
        saved_.emplace(device_);
        Apply();
        return D3D_OK;
    }

    HRESULT Draw(IDirect3DTexture9* texture, const RECT* sourceRect, const D3DXVECTOR2* scaling,
                 const D3DXVECTOR2* rotationCentre, float rotation, const D3DXVECTOR2* translation,
                 D3DCOLOR colour) override
    {
        if (texture == nullptr) return D3DERR_INVALIDCALL;
        D3DSURFACE_DESC desc{};
        if (FAILED(texture->GetLevelDesc(0, &desc)) || desc.Width == 0 || desc.Height == 0)
            return D3DERR_INVALIDCALL;
        RECT source{0, 0, static_cast<LONG>(desc.Width), static_cast<LONG>(desc.Height)};
        if (sourceRect != nullptr) source = *sourceRect;

        const float w = static_cast<float>(source.right - source.left);
        const float h = static_cast<float>(source.bottom - source.top);
        const float sx = scaling ? scaling->x : 1.0f, sy = scaling ? scaling->y : 1.0f;
        const float cx = rotationCentre ? rotationCentre->x : 0.0f, cy = rotationCentre ? rotationCentre->y : 0.0f;
        const float tx = translation ? translation->x : 0.0f, ty = translation ? translation->y : 0.0f;
        const float c = std::cos(rotation), s = std::sin(rotation);
        const float tw = static_cast<float>(desc.Width), th = static_cast<float>(desc.Height);

        // Corners in the order of a fan: top left, top right, bottom right, bottom left.
        const float cornerX[4] = {0.0f, w, w, 0.0f};
        const float cornerY[4] = {0.0f, 0.0f, h, h};
        Quad quad;
        for (int i = 0; i < 4; ++i) {
            // Scale about the top-left corner, rotate about the centre, translate.
            float x = cornerX[i] * sx - cx, y = cornerY[i] * sy - cy;
            float rx = x * c - y * s + cx, ry = x * s + y * c + cy;
            quad.corner[i].x = rx + tx;
            quad.corner[i].y = ry + ty;
            quad.corner[i].z = 0.0f;
            quad.corner[i].rhw = 1.0f;
            quad.corner[i].colour = colour;
            quad.corner[i].u = (static_cast<float>(source.left) + cornerX[i]) / tw;
            quad.corner[i].v = (static_cast<float>(source.top) + cornerY[i]) / th;
        }

        if (saved_) {
            if (texture != queuedTexture_) {
                const HRESULT flushed = Flush();
                if (FAILED(flushed)) return flushed;
                queuedTexture_ = texture;
                queuedTexture_->AddRef();
            }
            queued_.push_back(quad);
            return D3D_OK;
        }
        SavedDeviceState saved(device_);
        Apply();
        device_->SetTexture(0, texture);
        return device_->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 2, quad.corner, sizeof(ScreenVertex));
    }

    HRESULT End() override
    {
        if (!saved_) return D3DERR_INVALIDCALL;
        const HRESULT hr = Flush();
        saved_.reset();
        return hr;
    }

    HRESULT OnLostDevice() override
    {
        if (saved_) End();
        return D3D_OK;
    }

    HRESULT OnResetDevice() override { return D3D_OK; }

protected:
    ~Sprite() override
    {
        DropQueue();
        saved_.reset();  // puts the state back while the device is still held
        device_->Release();
    }

private:
    struct Quad {
        ScreenVertex corner[4];
    };

    // Draws the quads kept since the last flush: one quad as the fan it
    // always was, several as one list of their triangles.
    HRESULT Flush()
    {
        HRESULT hr = D3D_OK;
        if (!queued_.empty() && queuedTexture_ != nullptr) {
            device_->SetTexture(0, queuedTexture_);
            if (queued_.size() == 1) {
                hr = device_->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 2, queued_[0].corner, sizeof(ScreenVertex));
            } else {
                list_.clear();
                for (const Quad& q : queued_)
                    for (int corner : {0, 1, 2, 0, 2, 3}) list_.push_back(q.corner[corner]);
                hr = device_->DrawPrimitiveUP(D3DPT_TRIANGLELIST, static_cast<UINT>(queued_.size() * 2),
                                              list_.data(), sizeof(ScreenVertex));
            }
        }
        DropQueue();
        return hr;
    }

    void DropQueue()
    {
        queued_.clear();
        if (queuedTexture_ != nullptr) queuedTexture_->Release();
        queuedTexture_ = nullptr;
    }

    void Apply() { SetScreenSpaceState(device_, D3DTEXF_LINEAR, D3DTEXF_LINEAR); }

    IDirect3DDevice9* device_;
    std::optional<SavedDeviceState> saved_;  // held from Begin to End
    std::vector<Quad> queued_;                   // drawn since the last flush, all with queuedTexture_
    IDirect3DTexture9* queuedTexture_ = nullptr;  // holds a reference while quads wait
    std::vector<ScreenVertex> list_;             // the triangles of a flush, kept to reuse its memory
};

}  // namespace

HRESULT D3DXCreateSprite(IDirect3DDevice9* device, ID3DXSprite** sprite)
{
    if (sprite != nullptr) *sprite = nullptr;
    if (device == nullptr || sprite == nullptr) return D3DERR_INVALIDCALL;
    *sprite = new Sprite(device);
    return D3D_OK;
}
