// Turns the current microphone block into one growth step of a crystal: the
// loudest of the 40 lowest frequency bins picks the side the crystal bends
// towards and the length of the step; a quiet block takes a long straight
// step.
#pragma once

#include "common/Level.h"
#include "common/NonCopyable.h"

class World;
class CrystalBody;

// One row of the band table: how far and towards which side a step goes.
struct BandStep {
    float step;
    float turn;  // degrees about the top ring's axis
    int tag;
};

class ShapeBuilder : NonCopyable {
public:
    static constexpr int Bands = 40;

    ShapeBuilder() = default;
    ~ShapeBuilder() = default;

    bool SetWorld(World* worldLink);
    // Analyses the world's current block and appends one ring to the body.
    void Grow(CrystalBody& body);

    // The step for the loudest band of a block with this peak sample; a
    // block at or below the threshold is quiet.
    static BandStep StepFor(int band, int peak, int threshold = level::kDefaultThreshold);

    World* world = nullptr;
    int band = 0;  // loudest low bin of the last block, -1 without an analyser
    int peak = 0;  // largest sample of the last block, 0 when none is positive
};
