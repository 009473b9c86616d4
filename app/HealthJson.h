// The health snapshot as JSON, with the field names every report uses
// (the status file, the web view). The one place that spells them.
#pragma once

#include <nlohmann/json.hpp>

#include "app/Health.h"

nlohmann::json ToJson(const Health& health);
