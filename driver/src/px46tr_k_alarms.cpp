#include <cstddef>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "driver/px46tr_k.h"
#include "driver/signal_catalogue.h"

using namespace px46tr_k;

namespace {

constexpr int kReportLevel = 2;  // level of every unit alarm report

// The device's part in an alarm report: the host's report operation, the configured identifiers
// by alarm name and the round's serial.
struct AlarmReporter {
    SMDVDevice& host;
    const std::map<std::string, std::string>& rules;
    std::uint16_t& serial;

    // Reports one alarm if the configuration gives it an identifier; only a report takes a serial.
    void report(const std::string& name, bool active) const {
        const auto rule = rules.find(name);
        if (rule == rules.end() || rule->second.empty()) return;
        const std::string& id = rule->second;
        host.CheckThresholdBool(kReportLevel, id, id, name, name, active, serial);
        ++serial;
    }
};

// Feeder n's alarm of one family, from its unpacked flag; nothing outside the unicom profile. The
// name with the feeders' own prefix, as the report passes it, is the catalogue's shared one.
int report_feeder_alarm(std::int32_t b_mode, const AlarmReporter& reporter, const FeederFlagFamily& family,
                        const std::uint8_t* flag, const char* prefix, int n) {
    if (!is_profile(b_mode, OperatorProfile::kUnicom)) return 1;
    if (std::strcmp(prefix, kFeederPrefix) == 0 && n >= 1 && n <= kFeederCount) {
        reporter.report(feeder_flag_name(family, n), *flag != 0);
    } else {
        reporter.report(compose_name(family.format, prefix, n), *flag != 0);
    }
    return 1;
}

}  // namespace

void PX46TR_K::RunCheckThreshold() {
    if (!is_profile(b_mode_, OperatorProfile::kUnicom)) return;
    // Comparing the rules with those bound costs a walk over the configured entries; looking every
    // catalogue name up in them, as binding does, costs one search per name.
    if (alarm_binding_.rules != alarm_rules_) bind_alarms();
    const std::vector<AlarmInfo>& alarms = reportable_alarms();
    for (const BoundAlarm& bound : alarm_binding_.alarms) {
        const AlarmInfo& alarm = alarms[bound.position];
        CheckThresholdBool(kReportLevel, bound.id, bound.id, alarm.name, alarm.name,
                           alarm_active(alarm, data_), check_seq_);
        ++check_seq_;
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

int PX46TR_K::_px46tr_k_FeederCurrentHAlert_alert(const std::uint8_t* flag, const char* prefix, int n) {
    return report_feeder_alarm(b_mode_, {*this, alarm_rules_, check_seq_}, kFeederCurrentHigh, flag, prefix,
                               n);
}

int PX46TR_K::_px46tr_k_FeederCurrentHHAlert_alert(const std::uint8_t* flag, const char* prefix, int n) {
    return report_feeder_alarm(b_mode_, {*this, alarm_rules_, check_seq_}, kFeederCurrentHighHigh, flag,
                               prefix, n);
}

int PX46TR_K::_px46tr_k_FeederSwitchOpenAlert_alert(const std::uint8_t* flag, const char* prefix, int n) {
    return report_feeder_alarm(b_mode_, {*this, alarm_rules_, check_seq_}, kFeederSwitchOpen, flag, prefix,
                               n);
}
