// The life cycle of one crystal and its creation.
#include "crystal/Crystal.h"

#include <memory>

#include "crystal/World.h"
#include "sound/Loudness.h"
#include "sound/RecordingList.h"

Crystal::~Crystal()
{
    body.reset();
}

bool Crystal::Create(World* worldLink, IDirect3DDevice9* device)
{
    world = worldLink;
    shapeBuilder.SetWorld(worldLink);
    body = std::make_unique<CrystalBody>();
    if (!body->Create(worldLink)) return false;
    if (!sphereMap.LoadFromFile(device, world->DataPath("spheremap.bmp").c_str())) return false;
    Reset();
    return true;
}

void Crystal::Reset()
{
    recordedFrames = 0;
    quietFrames = 0;
    if (world != nullptr && world->recordingList) world->recordingList->FreeAll();
    if (body) body->ResetShape(0.1f);
}

bool Crystal::IsLoud() const
{
    if (world == nullptr) return false;
    return IsLoudPeak(world->LatestPeak(), world->loudThreshold);
}

void Crystal::KeepBlock()
{
    // Every recording crystal offers the block; the list keeps each one once.
    if (world != nullptr && world->recordingList)
        world->recordingList->AppendBlock(world->recordingBuffer, world->blockSerial);
}

void Crystal::Update(IDirect3DDevice9* device, const Matrix4& matrix)
{
    if (!body) return;
    switch (phase) {
    case Listening:
        listeningFrames += 1;
        if (!IsLoud()) return;
        if (listeningFrames > FlashAfterListening) flashRequest = true;
        phase = Recording;
        listeningFrames = 0;
        quietFrames = 0;
        KeepBlock();
        return;

    case Recording:
        KeepBlock();
        shapeBuilder.Grow(*body);
        recordedFrames += 1;
        flashRequest = false;
        if (IsLoudPeak(shapeBuilder.peak, world != nullptr ? world->loudThreshold : level::kDefaultThreshold)) {
            quietFrames = 0;
        } else {
            quietFrames += 1;
        }
        if (quietFrames < QuietStepsToStop && recordedFrames < MaxRecordedSteps) return;
        quietFrames = 0;
        phase = Revealing;
        body->Animate(device, MatrixIdentity(), 1);
        if (world != nullptr) world->StoreVoice();
        return;

    case Revealing:
        if (!body->Animate(device, matrix, 1)) {
            quietFrames = 0;
            phase = Showing;
        }
        return;

    case Showing:
        if (quietFrames >= HoldSteps - 1) {
            phase = Dissolving;
            quietFrames = 0;
        }
        quietFrames += 1;
        return;

    case Dissolving:
        if (!body->Animate(device, matrix, -4)) {
            quietFrames = 0;
            phase = Resting;
        }
        return;

    case Resting:
        if (quietFrames >= HoldSteps - 1) {
            phase = Listening;
            quietFrames = 0;
            Reset();
        }
        quietFrames += 1;
        return;

    default:
        return;
    }
}

