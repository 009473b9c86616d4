// One crystal of the cluster: its body, its sphere map and the life cycle
// that waits for a voice, grows the shape from it ring by ring, shows the
// finished shape, dissolves it into sparks, rests and starts again.
#pragma once

#include <cstdint>
#include <memory>

#include "crystal/CrystalBody.h"
#include "crystal/ShapeBuilder.h"
#include "scenery/SceneNode.h"
#include "scenery/TextureHolder.h"

class World;

// The phases of the life cycle, in the order a crystal runs through them.
enum CrystalLifecycle : std::int32_t {
    Listening = 0,
    Recording = 1,
    Revealing = 2,
    Showing = 3,
    Dissolving = 4,
    Resting = 5,
};

class Crystal : public SceneNode {
public:
    static constexpr int QuietStepsToStop = 5;   // consecutive quiet steps end a recording
    static constexpr int MaxRecordedSteps = 513;
    static constexpr int HoldSteps = 17;         // Showing and Resting
    static constexpr int FlashAfterListening = 48;

    Crystal() = default;
    ~Crystal() override;

    bool Create(World* worldLink, IDirect3DDevice9* device);
    // Back to a seed: counters cleared, the world's recording list freed.
    void Reset();
    // One step of the life cycle; `matrix` places the crystal in the scene.
    void Update(IDirect3DDevice9* device, const Matrix4& matrix) override;

    // True when the world's recording buffer holds a loud block.
    bool IsLoud() const;

    std::int32_t phase = Listening;
    World* world = nullptr;
    std::unique_ptr<CrystalBody> body;
    TextureHolder sphereMap;
    std::int32_t recordedFrames = 0;
    std::int32_t quietFrames = 0;
    std::int32_t listeningFrames = 0;
    bool flashRequest = false;
    ShapeBuilder shapeBuilder;

private:
    // Keeps the current microphone block in the world's recording list.
    void KeepBlock();
};
