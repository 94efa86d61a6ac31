#include <cstddef>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "catalogue/signal_catalogue.h"
#include "driver/px46tr_k.h"

using namespace px46tr_k;

namespace {

constexpr int kReportLevel = 2;  // level of every unit alarm report

}  // namespace

void PX46TR_K::RunCheckThreshold() {
    if (!framework::is_profile(b_mode_, framework::OperatorProfile::kUnicom)) return;
    // Comparing the rules with those bound costs a walk over the configured entries; looking every
    // catalogue name up in them, as binding does, costs one search per name.
    if (alarm_binding_.rules != alarm_rules_) bind_alarms();
    const std::vector<AlarmInfo>& alarms = reportable_alarms();
    const auto* record = reinterpret_cast<const std::uint8_t*>(&data_);
    for (const BoundAlarm& bound : alarm_binding_.alarms) {
        const AlarmInfo& alarm = alarms[bound.position];
        report_unit_alarm(bound.id, alarm.name, alarm.active(record));
    }
}

// Binds the configured rules: each reportable alarm whose name they map to a non-empty identifier,
// in report order. An alarm the rules do not name, or name with an empty identifier, is not
// reported, as the adapters below decide for one name.
void PX46TR_K::bind_alarms() {
    alarm_binding_.rules = alarm_rules_;
    alarm_binding_.alarms.clear();
    const std::vector<AlarmInfo>& alarms = reportable_alarms();
    for (std::size_t position = 0; position < alarms.size(); ++position) {
        const auto rule = alarm_rules_.find(alarms[position].name);
        if (rule == alarm_rules_.end() || rule->second.empty()) continue;
        alarm_binding_.alarms.push_back(BoundAlarm{position, rule->second});
    }
}

// One report: the identifier twice, the name twice, the state and the next serial.
void PX46TR_K::report_unit_alarm(const std::string& id, const std::string& name, bool active) {
    CheckThresholdBool(kReportLevel, id, id, name, name, active, check_seq_);
    ++check_seq_;
}

// Feeder n's alarm of one family, from its unpacked flag, decoded by the family's catalogue entry;
// nothing outside the unicom profile. With the feeders' own prefix the report carries the entry's
// name; another prefix composes a name of its own, which the rules may name all the same.
int PX46TR_K::report_feeder_alarm(const FeederFlagFamily& family, const std::uint8_t* flag,
                                  const char* prefix, int n) {
    if (!framework::is_profile(b_mode_, framework::OperatorProfile::kUnicom)) return 1;
    const SignalInfo* signal = n >= 1 && n <= kFeederCount
                                   ? &snapshot_signals()[signal_position(feeder_flag_name(family, n))]
                                   : nullptr;
    const bool active = signal != nullptr ? signal->alarm(signal->source.field(flag)) : *flag != 0;
    if (signal != nullptr && std::strcmp(prefix, kFeederPrefix) == 0) {
        report_if_configured(signal->name, active);
    } else {
        report_if_configured(compose_name(family.format, prefix, n), active);
    }
    return 1;
}

// Reports one alarm if the rules give it an identifier; only a report takes a serial.
void PX46TR_K::report_if_configured(const std::string& name, bool active) {
    const auto rule = alarm_rules_.find(name);
    if (rule == alarm_rules_.end() || rule->second.empty()) return;
    report_unit_alarm(rule->second, name, active);
}

int PX46TR_K::_px46tr_k_FeederCurrentHAlert_alert(const std::uint8_t* flag, const char* prefix, int n) {
    return report_feeder_alarm(kFeederCurrentHigh, flag, prefix, n);
}

int PX46TR_K::_px46tr_k_FeederCurrentHHAlert_alert(const std::uint8_t* flag, const char* prefix, int n) {
    return report_feeder_alarm(kFeederCurrentHighHigh, flag, prefix, n);
}

int PX46TR_K::_px46tr_k_FeederSwitchOpenAlert_alert(const std::uint8_t* flag, const char* prefix, int n) {
    return report_feeder_alarm(kFeederSwitchOpen, flag, prefix, n);
}
