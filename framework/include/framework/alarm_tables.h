#pragma once

#include <map>
#include <string>
#include <tuple>
#include <utility>

// The alarm configuration a device holds, by operator profile. Configuration loading is the only
// writer (besides the `active` member of a threshold rule, which the threshold evaluation moves);
// the end-of-round evaluations read it. Keys compare byte for byte.

// Alarm identifier, threshold, recovery threshold, active, level.
using ThresholdRule = std::tuple<std::string, float, float, bool, int>;
// Threshold rules by snapshot member name.
using ThresholdGroup = std::map<std::string, ThresholdRule>;

// The tables of one device, by reference, so that the same loading code fills a device's members
// or a caller's own maps.
struct AlarmTables {
    // Unicom: snapshot member name -> (signal identifier, second identifier).
    std::map<std::string, std::pair<std::string, std::string>>& ai_signals;
    // Unicom: alarm name -> alarm identifier. Mobile: member name + "_" + anything -> the rule.
    std::map<std::string, std::string>& alarm_rules;
    // Mobile: alarm identifier -> text put in front of the value in its reports.
    std::map<std::string, std::string>& alarm_texts;
    // Mobile: alarm identifier -> signal name.
    std::map<std::string, std::string>& alarm_names;
    // Threshold groups, identifiers ending "001" to "004".
    ThresholdGroup& up_thresholds;
    ThresholdGroup& up2_thresholds;
    ThresholdGroup& low_thresholds;
    ThresholdGroup& low2_thresholds;
};
