#include "operator/Health.h"

#include <cmath>

#include <nlohmann/json.hpp>

nlohmann::json ToJson(const Health& health)
{
    nlohmann::json crystals = nlohmann::json::object();
    for (std::size_t p = 0; p < Health::kPhaseNames.size(); ++p) crystals[Health::kPhaseNames[p]] = health.crystals[p];
    nlohmann::json document = {
        {"state", health.state},
        {"started_at", health.started_at},
        {"uptime_s", health.uptime_s},
        {"steps", health.steps},
        {"steps_per_second", health.steps_per_second},
        {"step_ms_p99", health.step_ms_p99},
        {"input_peak_dbfs", health.input_peak_dbfs},
        {"input_rms_dbfs", health.input_rms_dbfs},
        {"threshold", health.threshold},
        {"threshold_dbfs", std::round(level::ThresholdToDbfs(health.threshold) * 10) / 10},
        {"gain_db", health.gain_db},
        {"crystals", crystals},
        {"sparks", health.sparks},
        {"pictures_in_flight", health.pictures_in_flight},
        {"pictures_received", health.pictures_received},
        {"peer",
         {{"state", health.peer.state}, {"address", health.peer.address}, {"last_contact", health.peer.last_contact}}},
        {"microphone", {{"state", health.microphone.state}, {"device", health.microphone.device}}},
        {"last_voice",
         {{"path", health.last_voice.path}, {"blocks", health.last_voice.blocks}, {"time", health.last_voice.time}}},
        {"warnings", health.warnings},
        {"errors", health.errors},
        {"panel_visible", health.panel_visible},
        {"osc",
         {{"listening", health.osc.listening},
          {"heard", health.osc.heard},
          {"ignored", health.osc.ignored},
          {"flashes_skipped", health.osc.flashes_skipped}}},
        {"video",
         {{"state", health.video.state},
          {"file", health.video.file},
          {"frames", health.video.frames},
          {"dropped", health.video.dropped}}},
    };
    if (health.state != "running") {
        document["stop_reason"] = health.stop_reason;
        document["stopped_at"] = health.stopped_at;
    }
    return document;
}

std::string Grouped(std::uint64_t value)
{
    std::string digits = std::to_string(value);
    std::string out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i != 0 && (digits.size() - i) % 3 == 0) out += ' ';
        out += digits[i];
    }
    return out;
}
