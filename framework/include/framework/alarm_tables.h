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

// The tables themselves: a device's alarm configuration (a device derives from it, so the tables
// are its members by these names), or a caller's own, loaded without a device. A load builds the
// new configuration aside and moves it in whole.
struct AlarmConfiguration {
    std::map<std::string, std::pair<std::string, std::string>> ai_signals_;
    std::map<std::string, std::string> alarm_rules_;
    std::map<std::string, std::string> alarm_texts_;
    std::map<std::string, std::string> alarm_names_;
    ThresholdGroup up_thresholds_;
    ThresholdGroup up2_thresholds_;
    ThresholdGroup low_thresholds_;
    ThresholdGroup low2_thresholds_;

    // A copy of the tables `tables` refers to.
    static AlarmConfiguration copy_of(const AlarmTables& tables) {
        return AlarmConfiguration{tables.ai_signals,     tables.alarm_rules,    tables.alarm_texts,
                                  tables.alarm_names,    tables.up_thresholds,  tables.up2_thresholds,
                                  tables.low_thresholds, tables.low2_thresholds};
    }
    // Moves every table into the ones `tables` refers to.
    void move_into(const AlarmTables& tables) {
        tables.ai_signals = std::move(ai_signals_);
        tables.alarm_rules = std::move(alarm_rules_);
        tables.alarm_texts = std::move(alarm_texts_);
        tables.alarm_names = std::move(alarm_names_);
        tables.up_thresholds = std::move(up_thresholds_);
        tables.up2_thresholds = std::move(up2_thresholds_);
        tables.low_thresholds = std::move(low_thresholds_);
        tables.low2_thresholds = std::move(low2_thresholds_);
    }
    // The tables by reference, as the configuration loader builds them.
    AlarmTables view() {
        return AlarmTables{ai_signals_,    alarm_rules_,    alarm_texts_,    alarm_names_,
                           up_thresholds_, up2_thresholds_, low_thresholds_, low2_thresholds_};
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

}  // namespace framework
