#include "feeder_table.h"

#include <algorithm>

#include "catalogue/signal_catalogue.h"

namespace {

struct FeederFlag {
    const char* label;
    const char* format;  // the catalogue's name format
};

constexpr FeederFlag kFlags[] = {{"开关告警", px46tr_k::kFeederSwitchAlarm.format},
                                 {"越上线", px46tr_k::kFeederCurrentHigh.format},
                                 {"越上上线", px46tr_k::kFeederCurrentHighHigh.format},
                                 {"分闸", px46tr_k::kFeederSwitchOpen.format}};

std::string text_of(const Json::Value& value) { return value.isString() ? value.asString() : "-"; }

double current_of(const FeederRow& row) { return row.current.isNumeric() ? row.current.asDouble() : 0.0; }

}  // namespace

FeederTable feeder_table(const Json::Value& s) {
    FeederTable table;
    if (!s.isObject()) return table;
    for (int n = 1; n <= px46tr_k::kFeederCount; ++n) {
        const std::string feeder = px46tr_k::feeder_name(n);
        auto measurement = [&](std::size_t field) {
            const auto* m = px46tr_k::feeder_measurement(field);
            return m == nullptr ? Json::Value() : s[px46tr_k::compose_name(m->format, "", feeder.c_str())];
        };
        FeederRow row;
        row.n = n;
        namespace field = px46tr_k::feeder_field;
        row.voltage = measurement(field::kVoltage);
        row.current = measurement(field::kCurrent);
        row.power = measurement(field::kPower);
        row.load_ratio = measurement(field::kLoadRatio);
        row.state = text_of(s[px46tr_k::compose_name(px46tr_k::kFeederSwitchStateFormat, "", n)]);
        for (const auto& flag : kFlags) {
            if (text_of(s[px46tr_k::compose_name(flag.format, px46tr_k::kFeederPrefix, n)]) ==
                px46tr_k::kAlarm) {
                row.alarms.emplace_back(flag.label);
            }
        }
        // Idle: nothing wrong and no current, whether the switch reads idle or normal.
        const bool idle = row.alarms.empty() && current_of(row) == 0.0 &&
                          (row.state == px46tr_k::kIdle || row.state == px46tr_k::kNormal);
        if (idle) {
            ++table.idle;
            continue;
        }
        row.abnormal = row.state != px46tr_k::kNormal || !row.alarms.empty();
        table.abnormal += row.abnormal ? 1 : 0;
        table.rows.push_back(std::move(row));
    }
    std::stable_sort(table.rows.begin(), table.rows.end(), [](const FeederRow& a, const FeederRow& b) {
        if (a.abnormal != b.abnormal) return a.abnormal;
        return !a.abnormal && current_of(a) > current_of(b);
    });
    return table;
}
