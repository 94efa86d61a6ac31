#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <tuple>
#include <utility>

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <json/value.h>

#include "framework/alarm_tables.h"
#include "framework/clock.h"
#include "framework/configuration_loader.h"
#include "framework/diagnostics.h"
#include "host/ttime.h"

// The data-device framework: a Modbus device whose whole register image is one record of type
// Data. It completes and publishes each polling round, keeps the JSON snapshot and the alarm
// tables of the operator profile, and evaluates the configured rules at the end of a round.
// Protocol is the host's device base; TypeCode is the data-type code published with the record.
template <typename Data, typename Protocol, int TypeCode>
class UniDataDevice : public Protocol {
public:
    // Alarm identifier, threshold, recovery threshold, active, level.
    using ThresholdRule = ::ThresholdRule;
    using ThresholdGroup = ::ThresholdGroup;

    static constexpr int kRecordSize = static_cast<int>(sizeof(Data));
    static constexpr int kStampSize = static_cast<int>(sizeof(ttime));

    UniDataDevice() {
        std::memset(static_cast<void*>(&data_), 0, sizeof data_);
        b_mode_ = 1;
    }
    ~UniDataDevice() override = default;

    using Protocol::LoadFromCache;

    // Takes a stored record of exactly the record's size and completes a round with it.
    bool LoadFromCache(const unsigned char* bytes, int length) override {
        if (bytes == nullptr || length != kRecordSize) return false;
        std::memcpy(static_cast<void*>(&data_), bytes, sizeof data_);
        this->data_ready_ = true;
        RoundDone();
        return true;
    }

    // Completes a polling round: stamp and publish the record, let the device report its own
    // alarms, rebuild the snapshot and evaluate the profile's rules, hand the gathered rule values
    // to the host's batch check and store the record in the history.
    void RoundDone() override {
        this->data_ready_ = true;
        {
            // A snapshot requested on another thread sees the round's time and its stamp together.
            std::lock_guard<std::mutex> lock(json_mutex_);
            this->update_time_ = clock_->local_now();
            const ttime stamp = get_ttime(this->update_time_);
            std::memcpy(record_bytes() + sizeof data_ - kStampSize, &stamp, kStampSize);
        }
        this->SendSP(TypeCode, record_bytes(), sizeof data_, false);
        this->Reset();
        this->check_seq_ = 1;
        this->alarm_changed_ = 0;
        RunCheckThreshold();
        if (b_mode_ == configuration::kUnicom || b_mode_ == configuration::kMobile ||
            b_mode_ == configuration::kThresholdGroups) {
            GenJsonData();
            std::lock_guard<std::mutex> lock(json_mutex_);
            evaluate_profile_rules();
        }
        log_line("rvSize is ", this->rule_values_.size());
        if (this->DoBatchCheckThreshold(this->rule_values_)) this->alarm_changed_ |= 1;
        this->SaveDeviceHistory(record_bytes(), sizeof data_);
        this->rule_values_.clear();
    }

    // Stores the data identifier in the record, loads the operator profile and the alarm
    // configuration (tables written under json_mutex_), then hands the settings to the host. A
    // library error while loading leaves here before the host sees the settings.
    bool InitSetting(const Json::Value& settings) override {
        const std::uint32_t data_id = this->DataId();
        std::memcpy(record_bytes(), &data_id, sizeof data_id);
        configuration::load_configuration(
            settings, configuration::ConfigurationTarget{
                          data_id, this->DeviceType(), b_mode_, alarm_tables(), this->alarm_levels_,
                          this->alarm_thresholds_, &json_mutex_});
        return Protocol::InitSetting(settings);
    }

    // The device's own alarm report and snapshot build; the framework has none.
    virtual void RunCheckThreshold() {}
    virtual void GenJsonData() {}

    // Replaces the clock the device reads (the system clock by default); the clock must outlive
    // the device.
    void set_clock(const Clock& clock) { clock_ = &clock; }

protected:
    unsigned char* record_bytes() { return reinterpret_cast<unsigned char*>(&data_); }

    // The alarm tables by reference, as the configuration loader fills them.
    AlarmTables alarm_tables() {
        return AlarmTables{ai_signals_,     alarm_rules_,     alarm_texts_,    alarm_names_,
                           up_thresholds_, up2_thresholds_, low_thresholds_, low2_thresholds_};
    }

    // The end-of-round rules of the active profile, run with json_mutex_ held
    // (rule_evaluation.h).
    void evaluate_profile_rules();
    void evaluate_analogue_signals();
    void evaluate_comparison_rules();

    // Threshold evaluation (threshold_evaluation.h), with json_mutex_ held by the caller.
    // Judges every rule of a threshold group (upper or lower limits) against the snapshot with
    // hysteresis and reports each rule whose member is a number to the host.
    void CheckSignalThresholdMap(ThresholdGroup& group, bool upper);
    // Reports an analogue value to the host when its report setting (its own, or a copy of its
    // template's made at first use) finds it due; true when it reported.
    bool CheckAOReport(const std::string& template_id, const std::string& signal_id, float value);

    Data data_;
    std::int32_t b_mode_ = 1;
    std::map<std::string, std::string> alarm_texts_;
    std::map<std::string, std::string> alarm_names_;
    std::map<std::string, std::string> alarm_rules_;
    ThresholdGroup up_thresholds_;
    ThresholdGroup up2_thresholds_;
    ThresholdGroup low_thresholds_;
    ThresholdGroup low2_thresholds_;
    boost::posix_time::ptime json_time_{boost::posix_time::not_a_date_time};
    std::mutex json_mutex_;
    Json::Value json_;
    std::map<std::string, std::pair<std::string, std::string>> ai_signals_;
    const Clock* clock_ = &system_clock();
};

#include "framework/rule_evaluation.h"
#include "framework/threshold_evaluation.h"
