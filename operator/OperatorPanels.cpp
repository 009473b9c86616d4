#include "operator/OperatorPanels.h"

#include <imgui.h>

#include <algorithm>
#include <cstdio>

#include "common/Level.h"

namespace {

constexpr float kScreenWidth = 640.0f;
constexpr float kScreenHeight = 480.0f;
// Meters span this range of dBFS; quieter blocks sit at the bottom.
constexpr double kMeterFloorDbfs = -60.0;

constexpr ImGuiWindowFlags kFixedWindow = ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoInputs |
                                          ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoFocusOnAppearing |
                                          ImGuiWindowFlags_NoNav | ImGuiWindowFlags_NoMove;

const ImU32 kBarColour = IM_COL32(80, 200, 120, 255);
const ImU32 kLoudBarColour = IM_COL32(240, 90, 60, 255);
const ImU32 kThresholdColour = IM_COL32(255, 220, 40, 255);
const ImU32 kFloorColour = IM_COL32(150, 150, 150, 255);
const ImU32 kSuggestedColour = IM_COL32(80, 170, 255, 255);
const ImU32 kTrackColour = IM_COL32(40, 40, 40, 255);

// 0 at the meter's floor, 1 at full scale.
float MeterFraction(double dbfs)
{
    return static_cast<float>(std::clamp((dbfs - kMeterFloorDbfs) / -kMeterFloorDbfs, 0.0, 1.0));
}

// A horizontal level bar with the threshold as a vertical line.
void LevelBar(double peakDbfs, double thresholdDbfs, float width, float height)
{
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const ImVec2 at = ImGui::GetCursorScreenPos();
    const ImVec2 end(at.x + width, at.y + height);
    draw->AddRectFilled(at, end, kTrackColour);
    const float filled = at.x + width * MeterFraction(peakDbfs);
    draw->AddRectFilled(at, ImVec2(filled, end.y), peakDbfs > thresholdDbfs ? kLoudBarColour : kBarColour);
    const float line = at.x + width * MeterFraction(thresholdDbfs);
    draw->AddLine(ImVec2(line, at.y - 2), ImVec2(line, end.y + 2), kThresholdColour, 2.0f);
    ImGui::Dummy(ImVec2(width, height));
}

std::string Ago(double seconds)
{
    if (seconds < 0) return "never";
    char text[32];
    std::snprintf(text, sizeof text, "%.0f s ago", seconds);
    return text;
}

}  // namespace

void BuildDiagnosticsPanel(const Health& health)
{
    ImGui::SetNextWindowPos(ImVec2(8, 8), ImGuiCond_Always);
    ImGui::SetNextWindowSize(ImVec2(300, 0), ImGuiCond_Always);
    ImGui::SetNextWindowBgAlpha(0.78f);
    ImGui::Begin("Diagnostics", nullptr, kFixedWindow);
    ImGui::Text("Solvane diagnostics (F1)");
    ImGui::Separator();
    ImGui::Text("steps %llu   %.1f steps/s   p99 %.1f ms", static_cast<unsigned long long>(health.steps),
                health.steps_per_second, health.step_ms_p99);
    ImGui::Text("input %.1f dBFS  threshold %d (%.1f dBFS)", health.input_peak_dbfs, health.threshold,
                level::ThresholdToDbfs(health.threshold));
    LevelBar(health.input_peak_dbfs, level::ThresholdToDbfs(health.threshold), 284, 10);
    ImGui::Text("gain %+.1f dB", health.gain_db);
    ImGui::Separator();
    for (std::size_t i = 0; i < Health::kPhaseNames.size(); i += 2)
        ImGui::Text("%-10s %2u    %-10s %2u", Health::kPhaseNames[i], health.crystals[i], Health::kPhaseNames[i + 1],
                    health.crystals[i + 1]);
    ImGui::Text("sparks %u", health.sparks);
    ImGui::Text("pictures %u in flight, %llu received", health.pictures_in_flight,
                static_cast<unsigned long long>(health.pictures_received));
    ImGui::Separator();
    if (health.peer.address.empty()) ImGui::Text("peer %s", health.peer.state.c_str());
    else ImGui::Text("peer %s %s, contact %s", health.peer.address.c_str(), health.peer.state.c_str(),
                     Ago(health.peer.last_contact).c_str());
    ImGui::Text("microphone %s %s", health.microphone.state.c_str(), health.microphone.device.c_str());
    if (health.last_voice.path.empty()) ImGui::Text("last voice: none yet");
    else ImGui::TextWrapped("last voice %s (%u blocks) %s", health.last_voice.path.c_str(), health.last_voice.blocks,
                            health.last_voice.time.c_str());
    ImGui::Text("warnings %llu   errors %llu", static_cast<unsigned long long>(health.warnings),
                static_cast<unsigned long long>(health.errors));
    ImGui::End();
}

void BuildProblemNotice(const std::vector<std::string>& problems)
{
    if (problems.empty()) return;
    // Drawn straight into the foreground list, so it shows on the first
    // frame it is asked for (a window would wait a frame to size itself).
    ImDrawList* draw = ImGui::GetForegroundDrawList();
    const float pad = 6.0f;
    float y = 8.0f;
    for (const std::string& problem : problems) {
        const ImVec2 size = ImGui::CalcTextSize(problem.c_str());
        const float x = kScreenWidth - 8.0f - size.x - 2 * pad;
        draw->AddRectFilled(ImVec2(x, y), ImVec2(x + size.x + 2 * pad, y + size.y + 2 * pad), IM_COL32(150, 20, 20, 210),
                            4.0f);
        draw->AddText(ImVec2(x + pad, y + pad), IM_COL32(255, 255, 255, 255), problem.c_str());
        y += size.y + 2 * pad + 4.0f;
    }
}

const char* const kTooLoudAdvice =
    "the floor is too high for a voice to rise above it: lower the gain, move the microphone or wait for a quiet "
    "moment";

CalibrationFigures MeasureCalibration(const InputMeter& meter, int threshold, double gainDb)
{
    CalibrationFigures figures;
    figures.peak = meter.LatestPeak();
    figures.noiseFloor = meter.NoiseFloor();
    figures.suggested = meter.SuggestedThreshold();
    figures.threshold = threshold;
    figures.gainDb = gainDb;
    return figures;
}

std::string CalibrationLine(const CalibrationFigures& f)
{
    char suggested[48] = "none";
    if (f.suggested > 0)
        std::snprintf(suggested, sizeof suggested, "%d (%.1f dBFS)", f.suggested, level::SampleToDbfs(f.suggested));
    char text[256];
    std::snprintf(text, sizeof text,
                  "calibrate: peak %d (%.1f dBFS) floor %d (%.1f dBFS) suggested %s threshold %d (%.1f dBFS) "
                  "gain %.1f dB",
                  f.peak, level::SampleToDbfs(f.peak), f.noiseFloor, level::SampleToDbfs(f.noiseFloor), suggested,
                  f.threshold, level::ThresholdToDbfs(f.threshold), f.gainDb);
    std::string line = text;
    if (f.suggested <= 0) line += std::string(": ") + kTooLoudAdvice;
    return line;
}

void BuildCalibrationMeter(const InputMeter& meter, const CalibrationFigures& f)
{
    ImGui::SetNextWindowPos(ImVec2(0, 0), ImGuiCond_Always);
    ImGui::SetNextWindowSize(ImVec2(kScreenWidth, kScreenHeight), ImGuiCond_Always);
    ImGui::SetNextWindowBgAlpha(1.0f);
    ImGui::Begin("Calibration", nullptr, kFixedWindow);
    ImGui::Text("Calibration: the room as the crystals hear it (block peaks of the last 10 s)");
    ImGui::Separator();

    // The bars: one per 50 ms block, newest on the right.
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const ImVec2 at = ImGui::GetCursorScreenPos();
    const float width = kScreenWidth - 2 * at.x, height = 300.0f;
    const ImVec2 end(at.x + width, at.y + height);
    draw->AddRectFilled(at, end, kTrackColour);
    const float barWidth = width / static_cast<float>(InputMeter::kHistoryBlocks);
    auto yOf = [&](double dbfs) { return end.y - height * MeterFraction(dbfs); };
    for (std::size_t n = 0; n < meter.BlockCount(); ++n) {
        const int peak = meter.PeakAgo(n);
        const float right = end.x - barWidth * static_cast<float>(n);
        draw->AddRectFilled(ImVec2(right - barWidth + 0.5f, yOf(level::SampleToDbfs(peak))), ImVec2(right, end.y),
                            peak > f.threshold ? kLoudBarColour : kBarColour);
    }
    auto line = [&](int sample, ImU32 colour, float thickness) {
        const float y = yOf(level::SampleToDbfs(sample));
        draw->AddLine(ImVec2(at.x, y), ImVec2(end.x, y), colour, thickness);
    };
    line(f.noiseFloor, kFloorColour, 1.0f);
    if (f.suggested > 0) line(f.suggested, kSuggestedColour, 1.0f);
    line(f.threshold, kThresholdColour, 2.0f);
    for (int dbfs = -60; dbfs <= 0; dbfs += 12) {
        char label[16];
        std::snprintf(label, sizeof label, "%d", dbfs);
        draw->AddText(ImVec2(at.x + 2, yOf(dbfs) - (dbfs == -60 ? 14.0f : 0.0f)), IM_COL32(200, 200, 200, 160), label);
    }
    ImGui::Dummy(ImVec2(width, height));

    ImGui::Text("peak        %5d  (%6.1f dBFS)", f.peak, level::SampleToDbfs(f.peak));
    ImGui::TextColored(ImVec4(1.0f, 0.86f, 0.16f, 1.0f), "threshold   %5d  (%6.1f dBFS)", f.threshold,
                       level::ThresholdToDbfs(f.threshold));
    ImGui::TextColored(ImVec4(0.6f, 0.6f, 0.6f, 1.0f), "noise floor %5d  (%6.1f dBFS)", f.noiseFloor,
                       level::SampleToDbfs(f.noiseFloor));
    if (f.suggested > 0)
        ImGui::TextColored(ImVec4(0.31f, 0.67f, 1.0f, 1.0f), "suggested   %5d  (%6.1f dBFS)", f.suggested,
                           level::SampleToDbfs(f.suggested));
    else {
        ImGui::PushStyleColor(ImGuiCol_Text, ImVec4(1.0f, 0.4f, 0.4f, 1.0f));
        ImGui::TextWrapped("suggested   none: %s", kTooLoudAdvice);
        ImGui::PopStyleColor();
    }
    ImGui::Text("gain        %+.1f dB", f.gainDb);
    ImGui::Text("Up/Down: threshold 1 dB   Left/Right: gain 1 dB   S: save   Escape: leave");
    if (!f.saveError.empty()) ImGui::TextColored(ImVec4(1, 0.4f, 0.4f, 1), "%s", f.saveError.c_str());
    else if (!f.savedTo.empty()) ImGui::Text("saved to %s", f.savedTo.c_str());
    ImGui::End();
}
