#pragma once

#include <array>
#include <map>
#include <string>
#include <tuple>
#include <utility>

namespace framework {

// The alarm configuration a device holds, by operator profile. Configuration loading is the only
// writer (besides the `active` member of a threshold rule, which the threshold evaluation moves);
// the end-of-round evaluations read it. Keys compare byte for byte.

// Alarm identifier, threshold, recovery threshold, active, level.
using ThresholdRule = std::tuple<std::string, float, float, bool, int>;
// Threshold rules by snapshot member name.
using ThresholdGroup = std::map<std::string, ThresholdRule>;

// The tables of one device's alarm configuration (a device derives from it, so the tables are its
// members by these names), or a caller's own, loaded without a device. A load builds the new
// configuration aside and moves it in whole.
struct AlarmConfiguration {
    // Unicom: snapshot member name -> (signal identifier, second identifier).
    std::map<std::string, std::pair<std::string, std::string>> ai_signals_;
    // Unicom: alarm name -> alarm identifier. Mobile: member name + "_" + anything -> the rule.
    std::map<std::string, std::string> alarm_rules_;
    // Mobile: alarm identifier -> text put in front of the value in its reports.
    std::map<std::string, std::string> alarm_texts_;
    // Mobile: alarm identifier -> signal name.
    std::map<std::string, std::string> alarm_names_;
    // Threshold groups, identifiers ending "001" to "004".
    ThresholdGroup up_thresholds_;
    ThresholdGroup up2_thresholds_;
    ThresholdGroup low_thresholds_;
    ThresholdGroup low2_thresholds_;
};

// One threshold group of a device's tables: the name its settings keys start with ("Up" for
// "UpValue"), whether its alarm is raised by a rise above the threshold (else by a fall below it),
// and its rules.
struct ThresholdGroupEntry {
    const char* name;
    bool rising;
    ThresholdGroup& rules;
};

// The four threshold groups, in the order they are read and evaluated.
inline std::array<ThresholdGroupEntry, 4> threshold_groups(AlarmConfiguration& tables) {
    return {{{"Up", true, tables.up_thresholds_},
             {"Up2", true, tables.up2_thresholds_},
             {"Low", false, tables.low_thresholds_},
             {"Low2", false, tables.low2_thresholds_}}};
}

}  // namespace framework
