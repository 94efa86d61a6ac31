#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <json/value.h>

// The snapshot the driver builds from a stored record, its own round stamp included, without
// publishing anything: the same build the device runs after a round.
Json::Value snapshot_of_record(const std::vector<std::uint8_t>& record);

// The driver's round time text ("2026-12-9 1:15:0", the host's local time) as ISO 8601
// ("2026-12-09T01:15:00"), which sorts and parses; a text of another form is returned unchanged.
std::string iso_8601_time(const std::string& driver_time);
