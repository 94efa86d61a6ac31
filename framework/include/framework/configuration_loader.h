#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <json/value.h>

#include "framework/alarm_tables.h"
#include "framework/diagnostic_sink.h"
#include "framework/operator_profile.h"

namespace framework {

// How a device learns its alarm configuration: the operator profile from the host's settings, the
// configuration file found under "./ini/" (YAML or INI) and the threshold settings of the mobile
// and threshold-group profiles. A device's InitSetting runs this before it hands the settings to
// the host; a configuration check runs the very same code on maps of its own, without a device.
//
// Every step writes the diagnostic lines the commissioning engineers read to the target's sink.
// Errors of the JSON, YAML and INI libraries are not caught: they leave load_configuration with
// whatever was filled before them.
namespace configuration {

// Everything one load reads and writes.
struct ConfigurationTarget {
    std::uint32_t data_id;
    std::string device_type;
    // The operator profile: kept unless the settings name a new one. A device's rounds read it on
    // another thread.
    std::atomic<std::int32_t>& b_mode;
    // The tables a load replaces.
    AlarmConfiguration& tables;
    // The host's alarm levels and thresholds by alarm identifier; only looked up, never added to.
    const std::map<std::string, int>& host_levels;
    const std::map<std::string, float>& host_thresholds;
    // Where the load's diagnostic lines go.
    const DiagnosticSink& diagnostics;
    // Held while the tables are copied and while the new ones, built aside, are moved in, so that a
    // round completing on another thread never sees them half written; null when nothing else
    // reads them. Nothing called while it is held calls back into the device.
    std::mutex* table_guard = nullptr;
};

// Reads "appSetting"/"b_mode" (a number or a text, read as atoi does) into b_mode and logs the
// new profile; leaves b_mode alone when the settings name none.
void read_operator_profile(const Json::Value& settings, std::uint32_t data_id, std::int32_t& b_mode,
                           const DiagnosticSink& diagnostics);

// The eight configuration file candidates, most specific first: data identifier before device
// type, ".yaml" before ".ini", "./ini/" before "./ini/<profile>/". Relative to the working
// directory.
std::vector<std::string> candidate_paths(std::uint32_t data_id, const std::string& device_type,
                                         std::int32_t b_mode);

// The first candidate that exists (readable or not), logging each one tried; empty, with a
// "b ini not found" line, when none does.
std::string find_configuration_file(std::uint32_t data_id, const std::string& device_type,
                                    std::int32_t b_mode, const DiagnosticSink& diagnostics);

// The whole load: operator profile, file lookup, file groups, threshold settings. Table entries
// are overwritten, never removed, except the threshold groups, which the threshold-group profile
// refills from scratch.
void load_configuration(const Json::Value& settings, const ConfigurationTarget& target);

}  // namespace configuration

}  // namespace framework
