#include "platform/d3d9/SavedDeviceState.h"

SavedDeviceState::SavedDeviceState(IDirect3DDevice9* device) : device_(device)
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

SavedDeviceState::~SavedDeviceState()
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

void SetScreenSpaceState(IDirect3DDevice9* device, D3DTEXTUREFILTERTYPE filter, D3DTEXTUREFILTERTYPE mipFilter)
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
    device->SetSamplerState(0, D3DSAMP_MINFILTER, filter);
    device->SetSamplerState(0, D3DSAMP_MAGFILTER, filter);
    device->SetSamplerState(0, D3DSAMP_MIPFILTER, mipFilter);
    device->SetFVF(ScreenVertexFormat);
}
