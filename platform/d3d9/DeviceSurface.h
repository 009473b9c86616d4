// The surfaces a device hands out: its back buffer and its depth buffer.
// They carry a description and a GDI device context that is a valid token
// nothing draws through.
#pragma once

#include "platform/d3d9/d3d9.h"

class DeviceSurface : public IDirect3DSurface9 {
public:
    explicit DeviceSurface(const D3DSURFACE_DESC& desc) : desc_(desc) {}

    HRESULT GetDesc(D3DSURFACE_DESC* desc) override
    {
        if (desc == nullptr) return D3DERR_INVALIDCALL;
        *desc = desc_;
        return D3D_OK;
    }
    HRESULT GetDC(HDC* dc) override
    {
        if (dc == nullptr || dcTaken_) return D3DERR_INVALIDCALL;
        dcTaken_ = true;
        *dc = reinterpret_cast<HDC>(this);
        return D3D_OK;
    }
    HRESULT ReleaseDC(HDC dc) override
    {
        if (!dcTaken_ || dc != reinterpret_cast<HDC>(this)) return D3DERR_INVALIDCALL;
        dcTaken_ = false;
        return D3D_OK;
    }

private:
    D3DSURFACE_DESC desc_;
    bool dcTaken_ = false;
};
