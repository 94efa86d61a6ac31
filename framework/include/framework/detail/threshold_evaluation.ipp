// Included by uni_data_device.h only, after the class.
//
// The framework's threshold evaluation: the threshold groups of the threshold-group profile and
// the report decision for analogue signals. Both run at the end of a round, on the round's thread,
// with json_mutex_ held by the caller, and take no lock themselves. The report settings
// (bao_settings_) belong to the host, which changes them only between rounds.

#include <cstdint>
#include <string>

#include <json/value.h>

#include "framework/analogue_report.h"
#include "framework/value_text.h"

namespace framework {

template <typename Data, typename Protocol, int TypeCode>
void UniDataDevice<Data, Protocol, TypeCode>::CheckSignalThresholdMap(ThresholdGroup& group, bool upper) {
    const Json::Value& snapshot = json_.root();
    if (!snapshot.isNull() && !snapshot.isObject()) return;
    for (auto& [name, rule] : group) {
        const Json::Value* member = snapshot.find(name.data(), name.data() + name.size());
        // Text, null, booleans, arrays and objects carry no measured value: the rule keeps its
        // state for the next round and nothing is reported.
        if (member == nullptr || !member->isNumeric()) continue;
        const float value = member->asFloat();
        auto& [alarm_id, threshold, recovery, active, level] = rule;
        // Hysteresis: an active rule consults only its recovery threshold, an inactive one only
        // its threshold.
        if (active) {
            if (upper ? recovery >= value : recovery <= value) active = false;
        } else {
            active = upper ? value >= threshold : value <= threshold;
        }
        const std::string text = value_text(value);
        std::string message;
        if (active) {
            message = "当前值" + text + (upper ? "高于阈值:" : "低于阈值:") + value_text(threshold);
        }
        this->CheckThresholdBool(level, name, alarm_id, text, message, active, 1);
    }
}

template <typename Data, typename Protocol, int TypeCode>
bool UniDataDevice<Data, Protocol, TypeCode>::CheckAOReport(const std::string& template_id,
                                                            const std::string& signal_id, float value) {
    auto& settings = this->bao_settings_;
    auto own = settings.find(signal_id);
    if (own == settings.end()) {
        const auto inherited = settings.find(template_id);
        if (inherited == settings.end()) return false;
        // The signal's own setting starts as a copy of the whole template entry, last report
        // included, and is used from now on.
        own = settings.emplace(signal_id, inherited->second).first;
    }
    SMDVDevice::BAOSetting& setting = own->second;
    if (!analogue_report_due(setting, value, clock_->epoch_now())) return false;
    setting.last_value = value;
    setting.last_time = static_cast<std::uint32_t>(clock_->epoch_now());
    Protocol::CheckAOReport(signal_id, value);
    return true;
}

}  // namespace framework
