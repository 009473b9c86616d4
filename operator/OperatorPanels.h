// What the operator's panels show, built with Dear ImGui between
// OverlayRenderer::Begin and End: the diagnostics panel (F1), the problems
// notice in a corner, and the calibration meter. Each reads plain values
// only (the Health snapshot, the input meter's figures), never the scene.
//
// Threads: the step loop only.
#pragma once

#include <string>
#include <vector>

#include "operator/Health.h"
#include "operator/InputMeter.h"

// The panel over the scene: figures of the latest Health snapshot.
void BuildDiagnosticsPanel(const Health& health);

// One line per problem, e.g. "no microphone", in the top-right corner.
void BuildProblemNotice(const std::vector<std::string>& problems);

struct CalibrationFigures {
    int peak = 0;            // the latest block
    int noiseFloor = 0;
    int suggested = 0;       // 0: none, the room is too loud (see kTooLoudAdvice)
    int threshold = 0;
    double gainDb = 0;
    std::string savedTo;     // non-empty once S saved the levels
    std::string saveError;   // non-empty when saving failed
};

// What the meter says instead of a suggestion when the floor is too high.
extern const char* const kTooLoudAdvice;

CalibrationFigures MeasureCalibration(const InputMeter& meter, int threshold, double gainDb);
// One line of the headless meter, printed once a second.
std::string CalibrationLine(const CalibrationFigures& figures);
// The full-screen meter: the block peaks of the last 10 s as bars, the
// threshold, the noise floor and the suggestion as lines, and the figures.
void BuildCalibrationMeter(const InputMeter& meter, const CalibrationFigures& figures);
