#pragma once

#include <chrono>
#include <string>

#include <json/value.h>

#include "site_status.h"
#include "trend_ring.h"

// The JSON the runner's page fetches, made from the site's status and trends only.

// A unit's page: its state and data age at `now`, lines A and B, the ambient values, the feeders
// that carry current or are not normal (those not normal first, then the most loaded), and the
// active alarms, all read from `snapshot` (null: no snapshot yet) by catalogue name.
Json::Value unit_view_data(const UnitStatus& status, const Json::Value& snapshot,
                           std::chrono::system_clock::time_point now);

// A unit's trend: the series (trend_series()), the points' times and, per series, their values
// (null where a point has none), oldest first.
Json::Value trend_data(const TrendRing& ring, std::chrono::system_clock::time_point now);

// Compact UTF-8 JSON text (names in Chinese stay as they are).
std::string json_text(const Json::Value& value);
