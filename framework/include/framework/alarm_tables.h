#pragma once

#include <array>
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

// The tables themselves, for a caller that loads a configuration without a device (a device keeps
// them as members of its own).
struct OwnedAlarmTables {
    std::map<std::string, std::pair<std::string, std::string>> ai_signals;
    std::map<std::string, std::string> alarm_rules;
    std::map<std::string, std::string> alarm_texts;
    std::map<std::string, std::string> alarm_names;
    ThresholdGroup up_thresholds;
    ThresholdGroup up2_thresholds;
    ThresholdGroup low_thresholds;
    ThresholdGroup low2_thresholds;

    // The tables by reference, as the configuration loader fills them.
    AlarmTables view() {
        return AlarmTables{ai_signals,    alarm_rules,    alarm_texts,    alarm_names,
                           up_thresholds, up2_thresholds, low_thresholds, low2_thresholds};
    }
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
inline std::array<ThresholdGroupEntry, 4> threshold_groups(const AlarmTables& tables) {
    return {{{"Up", true, tables.up_thresholds},
             {"Up2", true, tables.up2_thresholds},
             {"Low", false, tables.low_thresholds},
             {"Low2", false, tables.low2_thresholds}}};
}
