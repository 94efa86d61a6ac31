#pragma once

#include <cstdint>
#include <vector>

#include <json/value.h>

// The snapshot the driver builds from a stored record, its own round stamp included, without
// publishing anything: the same build the device runs after a round.
Json::Value snapshot_of_record(const std::vector<std::uint8_t>& record);
