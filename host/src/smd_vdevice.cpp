#include "host/smd_vdevice.h"

#include <cstdlib>
#include <cstring>
#include <utility>

#include "host_runtime/host_observer.h"

SMDVDevice::SMDVDevice() = default;
SMDVDevice::~SMDVDevice() = default;

int SMDVDevice::DeviceIoControl(int code, const void* in, int in_len, void* /*out*/, int out_size,
                                int& /*out_len*/) {
    const bool readable = in != nullptr && in_len > 0;
    notify([&](HostObserver& o) {
        o.on_device_io_control(
            {code, readable ? static_cast<const unsigned char*>(in) : nullptr, in_len, out_size});
    });
    return io_control_result_;
}

bool SMDVDevice::Reset() {
    notify([](HostObserver& o) { o.on_reset(); });
    return true;
}

bool SMDVDevice::InitV(SMDVDevice* /*parent*/, unsigned int data_id, const Json::Value& /*config*/) {
    data_id_ = data_id;
    return true;
}

bool SMDVDevice::Init(std::weak_ptr<SMDController> controller, unsigned int data_id,
                      const Json::Value& /*config*/) {
    controller_ = std::move(controller);
    data_id_ = data_id;
    return true;
}

namespace {

// A number or a text, as text; nothing for any other kind.
bool text_of(const Json::Value& object, const char* key, std::string& text) {
    const Json::Value* value = object.find(key, key + std::strlen(key));
    if (value == nullptr || !(value->isNumeric() || value->isString())) return false;
    text = value->asString();
    return true;
}

// An optional number of a report setting: its flag is on when the key holds a number.
void read_band(const Json::Value& object, const char* key, bool& enabled, float& band) {
    const Json::Value* value = object.find(key, key + std::strlen(key));
    if (value == nullptr || !value->isNumeric()) return;
    enabled = true;
    band = value->asFloat();
}

}  // namespace

bool SMDVDevice::InitSetting(const Json::Value& settings) {
    notify([&](HostObserver& o) { o.on_init_setting({settings}); });
    if (!settings.isObject()) return true;
    const Json::Value& thresholds = settings["thresholdSetting"];
    if (thresholds.isObject()) {
        for (const auto& id : thresholds.getMemberNames()) {
            const Json::Value& entry = thresholds[id];
            if (!entry.isObject()) continue;
            std::string text;
            if (text_of(entry, "AlarmLevel", text)) alarm_levels_[id] = std::atoi(text.c_str());
            if (text_of(entry, "Threshold", text)) {
                alarm_thresholds_[id] = static_cast<float>(std::atof(text.c_str()));
            }
        }
    }
    const Json::Value& reports = settings["aoReportSetting"];
    if (reports.isObject()) {
        for (const auto& id : reports.getMemberNames()) {
            const Json::Value& entry = reports[id];
            if (!entry.isObject()) continue;
            BAOSetting setting;
            read_band(entry, "absBand", setting.abs_enabled, setting.abs_band);
            read_band(entry, "pctBand", setting.pct_enabled, setting.pct_band);
            read_band(entry, "periodMinutes", setting.period_enabled, setting.period_minutes);
            bao_settings_[id] = setting;
        }
    }
    return true;
}

bool SMDVDevice::IsSupportDevice(const std::string& type) const { return type == device_type_; }

bool SMDVDevice::SendSP(int type, const unsigned char* bytes, unsigned int length, bool flag) {
    notify([&](HostObserver& o) { o.on_send_sp({type, bytes, length, flag}); });
    if (!given_round_time_.is_not_a_date_time()) {
        update_time_ = given_round_time_;
        given_round_time_ = boost::posix_time::not_a_date_time;
    }
    return true;
}

bool SMDVDevice::SendDelayData(int /*delay*/) { return true; }
bool SMDVDevice::SendDoData(int /*index*/, char /*value*/) { return true; }
int SMDVDevice::ReadDi(int /*index*/) { return 0; }
int SMDVDevice::ReadAi(int /*index*/) { return 0; }
std::string SMDVDevice::Get_SP_Value(unsigned int /*id*/, const std::string& /*name*/) { return {}; }

bool SMDVDevice::SaveDeviceHistory(const unsigned char* bytes, unsigned int length) {
    notify([&](HostObserver& o) { o.on_save_device_history({bytes, length}); });
    return true;
}

bool SMDVDevice::record_state(int level, const std::string& alarm_id, const std::string& signal,
                              const std::string& value_text, const std::string& message, bool state,
                              unsigned short serial) {
    const auto it = alarm_states_.try_emplace(std::make_pair(alarm_id, signal), false).first;
    if (it->second == state) return false;
    it->second = state;
    rule_values_.push_back(rule_value{alarm_id, signal, value_text, message, level, state, serial});
    return true;
}

bool SMDVDevice::CheckThreshold(const std::string& alarm_id, const std::string& name, const float& value,
                                int serial) {
    notify([&](HostObserver& o) { o.on_check_threshold({alarm_id, name, value, serial}); });
    const auto limit = alarm_thresholds_.find(alarm_id);
    const bool state = limit != alarm_thresholds_.end() && value > limit->second;
    const auto level = alarm_levels_.find(alarm_id);
    return record_state(level == alarm_levels_.end() ? 0 : level->second, alarm_id, name,
                        std::to_string(value), std::string(), state, static_cast<unsigned short>(serial));
}

bool SMDVDevice::CheckThresholdBool(int level, const std::string& alarm_id, const std::string& signal,
                                    const std::string& value_text, const std::string& message, bool state,
                                    unsigned short serial) {
    notify([&](HostObserver& o) {
        o.on_check_threshold_bool({level, alarm_id, signal, value_text, message, state, serial});
    });
    return record_state(level, alarm_id, signal, value_text, message, state, serial);
}

bool SMDVDevice::CheckAOReport(const std::string& signal_id, float value) {
    notify([&](HostObserver& o) { o.on_check_ao_report({signal_id, value}); });
    return true;
}

bool SMDVDevice::DoBatchCheckThreshold(const std::vector<rule_value>& values) {
    notify([&](HostObserver& o) { o.on_do_batch_check_threshold({values.size()}); });
    return !values.empty();
}
