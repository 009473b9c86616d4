// The steps every scene event shares: steering and animation, the frame
// skeleton (clear, draw, present, loss recovery) and the common scene.
#include "scene/Event.h"

#include <cstdio>

#include "crystal/CrystalCluster.h"
#include "crystal/World.h"
#include "net/NetLink.h"
#include "platform/d3d9/Matrices.h"
#include "platform/system/messages.h"
#include "render/RenderDevice.h"
#include "render/ScreenFade.h"
#include "scene/SceneHost.h"
#include "scene/SceneState.h"
#include "scenery/IncomingImages.h"
#include "scenery/LightSet.h"

Event::Event(SceneHost* app, const char* eventName) : application(app), name{}
{
    std::snprintf(name, sizeof name, "%s", eventName != nullptr ? eventName : "");
    ResetModelRotation();
}

Event::~Event() = default;

bool Event::MayStep() const
{
    return application != nullptr && application->IsRunning() && application->IsActive();
}

bool Event::KeyPressed(int virtualKey) const { return application->GetAsyncKeyState(virtualKey) != 0; }

void Event::CloseWindow() const { SendMessageA(application->Handle(), WM_CLOSE, 0, 0); }

void Event::SteerAndAnimate()
{
    const bool left = KeyPressed(VK_LEFT);
    const bool right = KeyPressed(VK_RIGHT);
    TurnModel(left, right);

    IDirect3DDevice9* device = application->Renderer().Device();
    World* world = application->GetWorld();
    if (world != nullptr && device != nullptr) {
        if (world->lights) world->lights->UpdateParticles(device, IdentityMatrix());
        if (world->crystals) world->crystals->Update(device, ModelRotation);
    }

    IncomingImages* images = application->Images();
    if (images != nullptr) {
        images->Step();
        // Once the link has received a picture, every step offers its latest
        // one; the pool takes one request in five.
        NetLink* link = application->Link();
        if (link != nullptr && link->HasFrame() && link->FrameBuffer() != nullptr)
            images->Launch(device, link->FrameBuffer());
    }
}

void Event::RenderFrame(const DrawingStep& drawing)
{
    RenderDevice& renderer = application->Renderer();
    IDirect3DDevice9* device = renderer.Device();
    if (device == nullptr) return;

    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
    if (SUCCEEDED(device->BeginScene())) {
        drawing(device);
        application->DrawOverlays(device);
        device->EndScene();
    }
    // A frame whose scene could not begin is still presented.
    HRESULT presented = device->Present(nullptr, nullptr, nullptr, nullptr);
    if (presented == D3DERR_DEVICELOST && device->TestCooperativeLevel() == D3DERR_DEVICENOTRESET) {
        renderer.ResetDevice();
        renderer.Resize(application->Handle());
    }
}

void Event::DrawScene(IDirect3DDevice9* device)
{
    device->SetRenderState(D3DRS_FOGENABLE, TRUE);
    if (IncomingImages* images = application->Images()) images->Draw(device);

    World* world = application->GetWorld();
    bool flashRequested = false;
    if (world != nullptr && world->crystals) {
        world->crystals->Draw(device, ModelRotation);
        flashRequested = world->crystals->FlashRequested();
    }
    if (world != nullptr && world->lights) world->lights->DrawParticles(device, IdentityMatrix());

    const int flash = NextFlashAlpha(flashRequested);
    if (flash > 0 && world != nullptr && world->fade) world->fade->DrawUniform(device, flash);
}
