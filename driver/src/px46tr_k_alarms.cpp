#include <cstddef>
#include <map>
#include <string>

#include "driver/px46tr_k.h"
#include "driver/record_fields.h"
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

// Feeder n's alarm of one family, from its unpacked flag; nothing outside the unicom profile.
int report_feeder_alarm(std::int32_t b_mode, const AlarmReporter& reporter, const FeederFlagFamily& family,
                        const std::uint8_t* flag, const char* prefix, int n) {
    if (is_profile(b_mode, OperatorProfile::kUnicom)) reporter.report(compose_name(family.format, prefix, n), *flag != 0);
    return 1;
}

}  // namespace

void PX46TR_K::RunCheckThreshold() {
    if (!is_profile(b_mode_, OperatorProfile::kUnicom)) return;
    const AlarmReporter reporter{*this, alarm_rules_, check_seq_};
    const std::uint8_t* record = record_bytes();

    reporter.report(kSystemTotalAlarm, read_u16(record + kSystemTotalAlarmOffset) == 1);

    std::uint8_t alarm_flags[kFeederAlarmFlags];
    std::uint8_t open_flags[kFeederOpenFlags];
    unpack_flags(record + flag_block_offset(FlagBlock::feeder_alarm_bits), kFeederAlarmFlags, alarm_flags);
    unpack_flags(record + flag_block_offset(FlagBlock::feeder_open_bits), kFeederOpenFlags, open_flags);
    using FeederAlert = int (PX46TR_K::*)(const std::uint8_t*, const char*, int);
    const auto walk = [this](FeederAlert alert, const std::uint8_t* flag) {
        for (int n = 1; n <= kFeederCount; ++n) flag += (this->*alert)(flag, kFeederPrefix, n);
    };

    walk(&PX46TR_K::_px46tr_k_FeederCurrentHAlert_alert, alarm_flags + kFeederCurrentHigh.first_flag);
    walk(&PX46TR_K::_px46tr_k_FeederCurrentHHAlert_alert, alarm_flags + kFeederCurrentHighHigh.first_flag);
    for (int m = 0; m < kInlineAlarmCount; ++m) {
        const std::size_t offset = inline_alarm_offset(m);
        reporter.report(kInlineAlarmNames[m], offset != 0 && read_u16(record + offset) != 0);
    }
    walk(&PX46TR_K::_px46tr_k_FeederSwitchOpenAlert_alert, open_flags + kFeederSwitchOpen.first_flag);
}

int PX46TR_K::_px46tr_k_FeederCurrentHAlert_alert(const std::uint8_t* flag, const char* prefix, int n) {
    return report_feeder_alarm(b_mode_, {*this, alarm_rules_, check_seq_}, kFeederCurrentHigh, flag, prefix, n);
}

int PX46TR_K::_px46tr_k_FeederCurrentHHAlert_alert(const std::uint8_t* flag, const char* prefix, int n) {
    return report_feeder_alarm(b_mode_, {*this, alarm_rules_, check_seq_}, kFeederCurrentHighHigh, flag, prefix, n);
}

int PX46TR_K::_px46tr_k_FeederSwitchOpenAlert_alert(const std::uint8_t* flag, const char* prefix, int n) {
    return report_feeder_alarm(b_mode_, {*this, alarm_rules_, check_seq_}, kFeederSwitchOpen, flag, prefix, n);
}
