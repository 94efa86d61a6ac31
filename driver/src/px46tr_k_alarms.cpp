#include <cstddef>
#include <cstring>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "driver/build_order.h"
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
    const AlarmReporter reporter{*this, alarm_rules_, check_seq_};
    const std::uint8_t* record = record_bytes();

    std::uint8_t alarm_flags[kFeederAlarmFlags];
    std::uint8_t open_flags[kFeederOpenFlags];
    unpack_flags(record + flag_block_offset(FlagBlock::feeder_alarm_bits), kFeederAlarmFlags, alarm_flags);
    unpack_flags(record + flag_block_offset(FlagBlock::feeder_open_bits), kFeederOpenFlags, open_flags);
    // The reporter of each reported feeder flag family.
    using FeederAlert = int (PX46TR_K::*)(const std::uint8_t*, const char*, int);
    static constexpr struct {
        const FeederFlagFamily* family;
        FeederAlert alert;
    } kFeederAlerts[] = {{&kFeederCurrentHigh, &PX46TR_K::_px46tr_k_FeederCurrentHAlert_alert},
                         {&kFeederCurrentHighHigh, &PX46TR_K::_px46tr_k_FeederCurrentHHAlert_alert},
                         {&kFeederSwitchOpen, &PX46TR_K::_px46tr_k_FeederSwitchOpenAlert_alert}};

    // The names as texts once for the process, not once a report.
    static const std::string kTotalAlarmName = kSystemTotalAlarm;
    static const std::vector<std::string> kInlineNames(std::begin(kInlineAlarmNames),
                                                       std::end(kInlineAlarmNames));

    for (const OrderStep& step : kAlarmReportOrder) {
        switch (step.kind) {
            case OrderStep::Kind::system_total_alarm:
                reporter.report(kTotalAlarmName, read_u16(record + kSystemTotalAlarmOffset) == 1);
                break;
            case OrderStep::Kind::feeder_flags:
                for (const auto& a : kFeederAlerts) {
                    if (a.family != step.family) continue;
                    const std::uint8_t* flag =
                        (a.family->block == FlagBlock::feeder_alarm_bits ? alarm_flags : open_flags) +
                        a.family->first_flag;
                    for (int n = 1; n <= kFeederCount; ++n) flag += (this->*a.alert)(flag, kFeederPrefix, n);
                }
                break;
            case OrderStep::Kind::inline_alarms:
                for (int m = 0; m < kInlineAlarmCount; ++m) {
                    const std::size_t offset = inline_alarm_offset(m);
                    reporter.report(kInlineNames[m], offset != 0 && read_u16(record + offset) != 0);
                }
                break;
            default:
                break;
        }
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
