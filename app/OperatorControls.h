// The operator's requests between steps: keys, OSC and the web view post to
// the queue, and Apply makes each one a change (the input levels, the panel,
// a turn, a flash, a close) with a line that says who asked. The turn and
// the close reach the scene as the arrow keys and Escape would
// (FoldKeyState).
#pragma once

#include <array>
#include <functional>
#include <string>

#include "app/Options.h"
#include "app/PanelOverlay.h"
#include "operator/ControlQueue.h"
#include "operator/Health.h"
#include "operator/OperatorPanels.h"
#include "platform/system/Clock.h"
#include "platform/system/Keyboard.h"

class World;

class OperatorControls {
public:
    // Ends a calibration run; the argument is why.
    using EndRun = std::function<void(const std::string&)>;

    // The options, the keyboard and the overlay must outlive the controls.
    OperatorControls(const Options& options, platform::Keyboard& keys, PanelOverlay& overlay, EndRun endRun);

    // Requests from keys, OSC and the web view, applied between steps.
    ControlQueue& Queue() { return queue_; }
    // The operator's keys become requests, then every request posted since
    // the last step is applied. A new threshold reaches the world when
    // there is one; skipped flashes are counted in health.
    void Apply(platform::Clock& clock, World* world, Health& health);
    // The keyboard's state of a key with the turn and close requests folded in.
    SHORT FoldKeyState(int virtualKey);
    // What started the scene's close: "Escape", a request's source, or empty.
    const std::string& CloseCause() const { return closeCause_; }

    // The levels in force: from the options, then as requests changed them.
    int Threshold() const { return threshold_; }
    double GainDb() const { return gainDb_; }
    bool PanelVisible() const { return panelVisible_; }
    // What the latest save of the levels (S while calibrating) reported.
    const CalibrationFigures& CalibrationNote() const { return calibrationNote_; }

private:
    void PostKeyRequests();
    void ApplyOne(const ControlRequest& request, platform::Clock& clock, World* world, Health& health);
    bool KeyWentDown(int virtualKey);
    void SaveCalibration();

    const Options& options_;
    platform::Keyboard& keys_;
    PanelOverlay& overlay_;
    EndRun endRun_;
    ControlQueue queue_;
    int threshold_ = 4000;
    double gainDb_ = 0;
    bool panelVisible_ = false;
    int turn_ = 0;                     // -1 left, 1 right, as held arrow keys
    bool closeRequested_ = false;      // an Escape press not yet seen by the scene
    std::string closeSource_;          // who asked for that close ("close by OSC from ...")
    std::string closeCause_;           // what started the scene's close: "Escape", or closeSource_
    bool flashed_ = false;             // a flash was asked for since the start
    DWORD lastFlashMs_ = 0;            // clock time of that flash
    std::array<bool, 256> keyWasDown_{};
    CalibrationFigures calibrationNote_;  // what S last reported
};
