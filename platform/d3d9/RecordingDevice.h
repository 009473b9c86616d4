// The null backend of the renderer: the device front end over the
// recording back end, which draws nothing and records every draw with a
// copy of its vertices and the state in force. Unit tests drive the drawing
// code against it and look at what was recorded.
//
// RecordingDirect3D9 stands in for the Direct3D object; it can be told to
// refuse some device types or behaviours so that creation fall-backs can be
// tested. Failures of Reset and of the surface queries can be injected too.
#pragma once

#include <utility>
#include <vector>

#include "platform/d3d9/FrontEndDevice.h"
#include "platform/d3d9/RecordingBackEnd.h"

class RecordingDevice : public FrontEndDevice {
public:
    explicit RecordingDevice(const D3DPRESENT_PARAMETERS& params);

    // --- What was recorded -------------------------------------------------
    const std::vector<RecordedDraw>& Draws() const { return recorder_.draws; }
    void ClearDraws() { recorder_.draws.clear(); }
    DWORD LastClearFlags() const { return recorder_.lastClearFlags; }
    D3DCOLOR LastClearColour() const { return recorder_.lastClearColour; }
    // Keeps no vertex copies (for long runs that only count).
    void SetKeepVertices(bool keep) { recorder_.keepVertices = keep; }
    // Keeps no draw records at all, only the frame counters: the null
    // renderer of whole runs, whose memory must not grow per frame.
    void SetRecordDraws(bool record) { recorder_.recordDraws = record; }

    // --- Injected failures ---------------------------------------------------
    void FailNextReset(HRESULT result) { recorder_.resetFailure = result; }
    void FailDepthStencil(HRESULT result) { recorder_.depthFailure = result; }
    void FailBeginScene(HRESULT result) { recorder_.beginSceneFailure = result; }

protected:
    ~RecordingDevice() override;

private:
    RecordingBackEnd& recorder_;  // owned by the front end
};

class RecordingDirect3D9 : public IDirect3D9 {
public:
    HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviour,
                         D3DPRESENT_PARAMETERS* params, IDirect3DDevice9** device) override;

    // Refuses CreateDevice for this device type and behaviour.
    void Refuse(D3DDEVTYPE type, DWORD behaviour) { refused_.emplace_back(type, behaviour); }
    void RefuseAll() { refuseAll_ = true; }
    // Every CreateDevice call made, in order.
    const std::vector<std::pair<D3DDEVTYPE, DWORD>>& Attempts() const { return attempts_; }
    // Devices made from now on record no draws (see SetRecordDraws).
    void CountOnly() { countOnly_ = true; }

private:
    std::vector<std::pair<D3DDEVTYPE, DWORD>> refused_;
    std::vector<std::pair<D3DDEVTYPE, DWORD>> attempts_;
    bool refuseAll_ = false;
    bool countOnly_ = false;
};

// The factory for tests: a fresh RecordingDirect3D9 for every call.
IDirect3D9* RecordingDirect3DCreate9(UINT sdkVersion);
// The null renderer (--renderer null): devices that keep state and count
// draws but draw and record nothing, so a whole run needs no GL.
IDirect3D9* NullDirect3DCreate9(UINT sdkVersion);
