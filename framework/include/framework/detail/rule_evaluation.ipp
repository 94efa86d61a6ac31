// Included by uni_data_device.h only, after the class.
//
// The end-of-round evaluation of the active profile's rules against the round's snapshot. It runs
// inside RoundDone after the snapshot build has returned, with json_mutex_ held; nothing called
// from here takes that mutex. Lookups of the snapshot and of the host's level, threshold, text and
// name maps insert what is missing: a missing snapshot member becomes null, a missing level or
// threshold 0, a missing text or name the empty text.

#include <sstream>
#include <string>

#include <json/value.h>
#include <json/writer.h>

#include "framework/analogue_report.h"
#include "framework/comparison.h"
#include "framework/diagnostics.h"
#include "framework/split_at_first.h"

namespace framework {

template <typename Data, typename Protocol, int TypeCode>
void UniDataDevice<Data, Protocol, TypeCode>::evaluate_profile_rules() {
    switch (static_cast<OperatorProfile>(b_mode_.load())) {
        case OperatorProfile::kUnicom:
            evaluate_analogue_signals();
            break;
        case OperatorProfile::kMobile:
            evaluate_comparison_rules();
            break;
        case OperatorProfile::kThresholdGroups:
            CheckSignalThresholdMap(up_thresholds_, true);
            CheckSignalThresholdMap(up2_thresholds_, true);
            CheckSignalThresholdMap(low_thresholds_, false);
            CheckSignalThresholdMap(low2_thresholds_, false);
            break;
        default:
            break;
    }
}

template <typename Data, typename Protocol, int TypeCode>
void UniDataDevice<Data, Protocol, TypeCode>::evaluate_analogue_signals() {
    for (const auto& [name, ids] : ai_signals_) {
        const Json::Value& member = json_[name];
        if (member.isNull()) continue;
        // Only numbers and booleans read as a float; an identifier shorter than 9 bytes has no
        // template identifier. Either way the entry is left out.
        if (!member.isNumeric() && !member.isBool()) continue;
        const std::string template_id = analogue_template_identifier(ids.first);
        if (template_id.empty()) continue;
        const float value = member.asFloat();
        this->CheckThreshold(template_id, ids.second, value, 1);
        CheckAOReport(template_id, ids.first, value);
    }
}

template <typename Data, typename Protocol, int TypeCode>
void UniDataDevice<Data, Protocol, TypeCode>::evaluate_comparison_rules() {
    for (const auto& [key, rule] : alarm_rules_) {
        const std::string name = split_at_first(key, '_').first;
        const auto [alarm_id, comparison] = split_at_first(rule, ',');
        const int level = this->alarm_levels_[alarm_id];
        const float threshold = this->alarm_thresholds_[alarm_id];
        const Json::Value& member = json_[name];
        std::ostringstream member_text;
        member_text << member;
        log_line(*diagnostics_, "dataName:", name, " alarmId:", alarm_id, " alarmComp:", comparison,
                 " level:", level, " realvalue:", member_text.str(), " vs ", threshold);
        if (level == 0) continue;
        // The snapshot's own ordering: values of different kinds order by kind and are never
        // equal, so only real-valued members compare by number.
        const Json::Value limit(static_cast<double>(threshold));
        const std::optional<Comparison> named = comparison_named(comparison);
        if (!named) continue;
        bool state = false;
        switch (*named) {
            case Comparison::upper:
                state = member > limit;
                break;
            case Comparison::lower:
                state = member < limit;
                break;
            case Comparison::equal:
                state = member == limit;
                break;
            case Comparison::notequal:
                state = member != limit;
                break;
        }
        const std::string report = this->alarm_texts_[alarm_id] + member_text.str();
        this->CheckThresholdBool(level, alarm_id, alarm_id, this->alarm_names_[alarm_id], report, state, 1);
    }
}

}  // namespace framework
