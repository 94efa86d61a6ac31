#pragma once

#include <cstdint>

namespace framework {

// The operator profile that the host's settings select ("appSetting"/"b_mode"). It decides which
// alarm tables the configuration fills, which alarms a round reports and which rules it evaluates.
// A device keeps the number as the settings give it (any 32-bit value); a number that names no
// profile configures and evaluates nothing.
enum class OperatorProfile : std::int32_t {
    kUnicom = 1,           // the unit's alarm flags and analogue reporting
    kTelecom = 2,          // nothing of its own
    kMobile = 3,           // comparison rules
    kThresholdGroups = 5,  // upper and lower threshold groups
};

// The profile of a device whose settings name none.
inline constexpr OperatorProfile kDefaultProfile = OperatorProfile::kUnicom;

constexpr std::int32_t profile_value(OperatorProfile profile) { return static_cast<std::int32_t>(profile); }

constexpr bool is_profile(std::int32_t b_mode, OperatorProfile profile) {
    return b_mode == profile_value(profile);
}

// The profile's name in logs and its configuration directory "./ini/<name>/": "telecom",
// "mobile", otherwise "unicom" (the threshold-group profile and unknown numbers read unicom's).
constexpr const char* profile_name(std::int32_t b_mode) {
    if (is_profile(b_mode, OperatorProfile::kTelecom)) return "telecom";
    if (is_profile(b_mode, OperatorProfile::kMobile)) return "mobile";
    return "unicom";
}

}  // namespace framework
