// The health snapshot as the status document: one JSON object with the
// field names that every report shares (the status file, the web view).
// Written with nlohmann-json so that strings from devices and paths are
// always escaped correctly.
#pragma once

#include <nlohmann/json.hpp>

#include "app/Health.h"

nlohmann::json ToJson(const Health& health);
