#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include <json/value.h>

#include "framework/operator_profile.h"

// What a configuration check is asked to look at.
struct ConfigurationCheckRequest {
    Json::Value settings{Json::objectValue};  // the host's settings object for the device
    std::string settings_path;                // where the settings came from, for messages
    std::uint32_t data_id = 1;
    std::string device_type = "px46tr_k";
    bool has_profile = false;  // use `profile` instead of what the settings name
    std::int32_t profile = framework::profile_value(framework::kDefaultProfile);
};

// What a check found: problems keep configured alarms or rules from ever firing; warnings are
// configurations that may be meant but usually are mistakes (a profile with no tables of its own,
// file sections the profile does not read).
struct ConfigurationCheckResult {
    int problems = 0;
    int warnings = 0;
};

// "FILE: message" when the configuration file the device would load in this folder under
// `profile` fails to load by itself (a YAML or INI error); empty when it loads or there is none.
// The message names the file once, and adds what the library does not say: why the system will not
// let it be read, a byte-order mark before an INI file, a YAML line indented with a tab.
std::string configuration_file_error(std::uint32_t data_id, std::int32_t profile,
                                     const std::string& device_type = "px46tr_k");

// Runs the device's own configuration loading in the current folder, without polling, and prints
// which file was chosen, the profile, the size of each table and every problem and warning, one
// line each naming the file (or the settings) and the key. The loader's own diagnostic lines are
// not printed.
ConfigurationCheckResult check_configuration(const ConfigurationCheckRequest& request, std::ostream& out);
