// The band table and the growth step chosen from a block's spectrum.
#include "crystal/ShapeBuilder.h"

#include <cstdint>

#include "crystal/CrystalBody.h"
#include "crystal/World.h"
#include "sound/Loudness.h"
#include "sound/SpectrumAnalyser.h"

namespace {

constexpr float Tilt = 10.0f;        // every step leans this far off the previous axis
constexpr float RingRadius = 1.2f;   // every grown ring has this radius
constexpr float LevelFloor = 480.0f;

}  // namespace

bool ShapeBuilder::SetWorld(World* worldLink)
{
    world = worldLink;
    return true;
}

BandStep ShapeBuilder::StepFor(int loudest, int peakSample, int threshold)
{
    if (!IsLoudPeak(peakSample, threshold)) return {0.8f, 0.0f, 0};
    // Bins of 39.0625 Hz: up to bin 11 long steps, from bin 12 short ones.
    struct Row {
        int lastBin;
        BandStep step;
    };
    static const Row table[] = {
        {2, {0.8f, 0.0f, 1}},    {3, {0.8f, 45.0f, 2}},   {4, {0.8f, 90.0f, 3}},   {5, {0.8f, 135.0f, 4}},
        {6, {0.8f, 180.0f, 5}},  {7, {0.8f, 225.0f, 6}},  {9, {0.8f, 270.0f, 7}},  {11, {0.8f, 315.0f, 8}},
        {13, {0.5f, 0.0f, 9}},   {15, {0.5f, 45.0f, 10}}, {17, {0.5f, 90.0f, 11}}, {18, {0.5f, 135.0f, 12}},
        {20, {0.5f, 180.0f, 13}}, {22, {0.5f, 225.0f, 14}}, {25, {0.5f, 270.0f, 15}}, {39, {0.5f, 315.0f, 16}},
    };
    for (const Row& row : table)
        if (loudest <= row.lastBin) return row.step;
    // NOTE: no bin is found when there is no analyser (band -1 is below
    // every row and takes the first); nothing lies above bin 39.
    return table[15].step;
}

void ShapeBuilder::Grow(CrystalBody& body)
{
    band = -1;
    peak = 0;
    if (world == nullptr) return;
    SpectrumAnalyser* analyser = world->analyser.get();
    if (analyser != nullptr && analyser->Analyse(world->recordingBuffer, LevelFloor)) {
        const float* levels = analyser->Levels();
        int best = 9999999;
        for (int k = 0; k < Bands; ++k) {
            const int level = static_cast<int>(levels[k]);
            if (level < best) {
                best = level;
                band = k;
            }
        }
    }
    peak = world->LatestPeak();
    const BandStep chosen = StepFor(band, peak, world->loudThreshold);
    body.GrowStep(chosen.step, Tilt, chosen.turn, RingRadius, chosen.tag, peak);
}
