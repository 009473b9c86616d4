#include "app/HealthJson.h"

nlohmann::json ToJson(const Health& health)
{
    nlohmann::json crystals = nlohmann::json::object();
    for (std::size_t p = 0; p < Health::kPhaseNames.size(); ++p) crystals[Health::kPhaseNames[p]] = health.crystals[p];
    return {
        {"started_at", health.started_at},
        {"uptime_s", health.uptime_s},
        {"steps", health.steps},
        {"steps_per_second", health.steps_per_second},
        {"step_ms_p99", health.step_ms_p99},
        {"input_peak_dbfs", health.input_peak_dbfs},
        {"input_rms_dbfs", health.input_rms_dbfs},
        {"threshold", health.threshold},
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
        {"video",
         {{"state", health.video.state},
          {"file", health.video.file},
          {"frames", health.video.frames},
          {"dropped", health.video.dropped}}},
    };
}
