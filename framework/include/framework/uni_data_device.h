#pragma once

#include <atomic>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <type_traits>
#include <utility>

#include <json/value.h>
#include <boost/date_time/posix_time/posix_time_types.hpp>

#include "framework/alarm_tables.h"
#include "framework/clock.h"
#include "framework/configuration_loader.h"
#include "framework/diagnostic_sink.h"
#include "framework/diagnostics.h"
#include "framework/operator_profile.h"
#include "framework/round_record.h"
#include "framework/snapshot_tree.h"
#include "host/ttime.h"

namespace framework {

// The data-device framework: a Modbus device whose whole register image is one record of type
// Data. It completes and publishes each polling round, keeps the JSON snapshot and the alarm
// tables of the operator profile (its AlarmConfiguration, which configuration replaces whole), and
// evaluates the configured rules at the end of a round. The record and the rounds' times are its
// RoundRecord; the locks around them, and the calls into the host, are the template's.
// Protocol is the host's device base; TypeCode is the data-type code published with the record.
template <typename Data, typename Protocol, int TypeCode>
class UniDataDevice : public Protocol, protected AlarmConfiguration, protected RoundRecord<Data> {
public:
    // Alarm identifier, threshold, recovery threshold, active, level.
    using ThresholdRule = framework::ThresholdRule;
    using ThresholdGroup = framework::ThresholdGroup;

    static constexpr int kRecordSize = static_cast<int>(sizeof(Data));

    UniDataDevice() {
        // The round part has zeroed the record. The default profile is set once more after it, as the
        // device's construction order prescribes; the member's initialiser alone would give the same
        // value.
        b_mode_ = profile_value(kDefaultProfile);
    }
    ~UniDataDevice() override = default;

    using Protocol::LoadFromCache;

    // Takes a stored record of exactly the record's size and completes a round with it. The
    // stored record replaces the whole image, so a polling round under way is abandoned (its
    // remaining replies would mix two images). Refused from inside the device's own round
    // completion on the same thread: it would replace the record that completion publishes and
    // stores.
    bool LoadFromCache(const unsigned char* bytes, int length) override {
        if (bytes == nullptr || length != kRecordSize) return false;
        if (refused_on_round_thread("UniDataDevice::LoadFromCache")) return false;
        const RoundHold round(*this);
        this->load_record(bytes);
        this->data_ready_ = true;
        complete_round();
        return true;
    }

    // Completes a polling round: stamp and publish the record, let the device report its own
    // alarms, rebuild the snapshot and evaluate the profile's rules, hand the gathered rule values
    // to the host's batch check and store the record in the history. One completion runs at a
    // time; one called back from inside another on the same thread is refused.
    void RoundDone() override {
        if (refused_on_round_thread("UniDataDevice::RoundDone")) return;
        const RoundHold round(*this);
        complete_round();
    }

    // Stores the data identifier in the record, loads the operator profile and the alarm
    // configuration, then hands the settings to the host. The record and the tables are written,
    // and the host's settings taken, while no round completes; called back from inside a round
    // completion on the same thread it is refused (false), since it would rebuild the tables that
    // completion is evaluating. A library error while loading leaves here before the host sees the
    // settings.
    bool InitSetting(const Json::Value& settings) override {
        if (refused_on_round_thread("UniDataDevice::InitSetting")) return false;
        const std::uint32_t data_id = this->DataId();
        {
            const RoundHold round(*this);
            std::memcpy(record_bytes(), &data_id, sizeof data_id);
        }
        configuration::load_configuration(
            settings, configuration::ConfigurationTarget{
                          data_id, this->DeviceType(), b_mode_, alarm_configuration(), this->alarm_levels_,
                          this->alarm_thresholds_, *diagnostics_, &round_mutex_});
        const RoundHold round(*this);
        return Protocol::InitSetting(settings);
    }

    // The device's own alarm report and snapshot build; the framework has none.
    virtual void RunCheckThreshold() {}
    virtual void GenJsonData() {}

    // Replaces the clock the device reads (the system clock by default); the clock must outlive
    // the device.
    void set_clock(const Clock& clock) { clock_ = &clock; }
    // Replaces where the device's diagnostic lines go (standard output by default); the sink must
    // outlive the device. Install it before the device is used.
    void set_diagnostic_sink(const DiagnosticSink& sink) { diagnostics_ = &sink; }

protected:
    using Round = RoundRecord<Data>;
    // The record a round fills (round_mutex_).
    using Round::data_;
    using Round::record_bytes;
    // The record of the last completed round, as the snapshot is built from it; json_mutex_ held.
    using Round::completed_bytes;
    // Whole-record cache loads so far: a round notes it when it begins.
    using Round::image_loads;

    // Copies one reply's block into the record at `offset`, then completes the round after its
    // last block. True while the round goes on; false when it ends here: completed, abandoned
    // because a cached record replaced the image since the round began (`loads_at_start`, read
    // from image_loads() when it began), or refused because this thread is inside the device's own
    // round completion, which is about to store the record the copy would change.
    bool place_reply_block(std::size_t offset, const void* words, std::size_t length, bool last,
                           std::uint32_t loads_at_start) {
        if (refused_on_round_thread("process_payload")) return false;
        const RoundHold round(*this);
        if (image_loads() != loads_at_start) return false;
        this->place_block(offset, words, length);
        if (!last) return true;
        complete_round();
        return false;
    }
    // Seconds from the last completed round to now, by the device's clock; nothing before the first
    // round has its time. Takes no lock, so a value query answers from anywhere, a host operation
    // that round completion calls included.
    std::optional<std::int64_t> round_age_seconds() const { return this->age_seconds(clock_->local_now()); }

    // True, with a diagnostic line naming `call`, when this thread holds the round lock: it is
    // inside the device's own round completion (or configuration) and calls back into the device.
    // What needs that lock would change or rebuild what the completion is using, and the lock is
    // not recursive: such a call is refused at once instead.
    bool refused_on_round_thread(const char* call) const {
        if (round_thread_.load() != std::this_thread::get_id()) return false;
        log_line(*diagnostics_, call, " refused: called back from the device's own round completion");
        return true;
    }
    // True when this thread runs the end-of-round rule evaluation, which holds json_mutex_ across
    // its reports to the host: a request that takes json_mutex_ again must be refused.
    bool in_rule_evaluation_here() const { return rule_thread_.load() == std::this_thread::get_id(); }

    // The alarm tables, as the configuration loader replaces them.
    AlarmConfiguration& alarm_configuration() { return *this; }

    // The end-of-round rules of the active profile, run with json_mutex_ held
    // (detail/rule_evaluation.ipp).
    void evaluate_profile_rules();
    void evaluate_analogue_signals();
    void evaluate_comparison_rules();

    // Threshold evaluation (detail/threshold_evaluation.ipp), with json_mutex_ held by the caller.
    // Judges every rule of a threshold group (upper or lower limits) against the snapshot with
    // hysteresis and reports each rule whose member is a number to the host.
    void CheckSignalThresholdMap(ThresholdGroup& group, bool upper);
    // Reports an analogue value to the host when its report setting (its own, or a copy of its
    // template's made at first use) finds it due; true when it reported.
    bool CheckAOReport(const std::string& template_id, const std::string& signal_id, float value);

    // Locks, in the order they are taken (never the other way round):
    //  1. round_mutex_: one round completion at a time, the record copies that feed it (replies,
    //     cache loads, the data identifier), and the alarm tables and host settings it reads while
    //     configuration writes them. Held across round completion's calls into the host; taken
    //     through RoundHold, which notes the holding thread, so that a call the host makes back
    //     into the device on that thread is refused rather than taking it again.
    //  2. json_mutex_: the snapshot, the round time and the completed record it is built from.
    //     Never held while round_mutex_ is taken, nor across a call into the host other than the
    //     end-of-round rule reports (rule_thread_ names the thread meanwhile).
    // A device has no lock of its own: the snapshot's text (the driver's 801 text) is kept in json_,
    // under json_mutex_. Value queries take no lock.
    // The fields that requests hand to the polling thread without a lock are atomic.
    std::atomic<std::int32_t> b_mode_{profile_value(kDefaultProfile)};
    boost::posix_time::ptime json_time_{boost::posix_time::not_a_date_time};
    mutable std::mutex json_mutex_;
    SnapshotTree json_;
    const Clock* clock_ = &system_clock();
    const DiagnosticSink* diagnostics_ = &standard_output_sink();

    std::mutex round_mutex_;

private:
    // round_mutex_ held for a scope, with the holding thread noted.
    class RoundHold {
    public:
        explicit RoundHold(UniDataDevice& device) : device_(device), lock_(device.round_mutex_) {
            device_.round_thread_ = std::this_thread::get_id();
        }
        ~RoundHold() { device_.round_thread_ = std::thread::id(); }
        RoundHold(const RoundHold&) = delete;
        RoundHold& operator=(const RoundHold&) = delete;

    private:
        UniDataDevice& device_;
        std::lock_guard<std::mutex> lock_;
    };

    // The steps of a round completion, with round_mutex_ held by the caller: RoundDone, a cache
    // load, or the reply that completes the record.
    void complete_round() {
        this->data_ready_ = true;
        {
            // A snapshot requested on another thread sees the round's time, its stamp and its
            // record together.
            std::lock_guard<std::mutex> lock(json_mutex_);
            this->update_time_ = clock_->local_now();
            this->complete(this->update_time_);
        }
        this->SendSP(TypeCode, record_bytes(), sizeof data_, false);
        this->Reset();
        this->check_seq_ = 1;
        this->alarm_changed_ = 0;
        RunCheckThreshold();
        const std::int32_t b_mode = b_mode_;
        if (is_profile(b_mode, OperatorProfile::kUnicom) || is_profile(b_mode, OperatorProfile::kMobile) ||
            is_profile(b_mode, OperatorProfile::kThresholdGroups)) {
            GenJsonData();
            std::lock_guard<std::mutex> lock(json_mutex_);
            rule_thread_ = std::this_thread::get_id();
            evaluate_profile_rules();
            rule_thread_ = std::thread::id();
        }
        log_line(*diagnostics_, "rvSize is ", this->rule_values_.size());
        if (this->DoBatchCheckThreshold(this->rule_values_)) this->alarm_changed_ |= 1;
        this->SaveDeviceHistory(record_bytes(), sizeof data_);
        this->rule_values_.clear();
    }

    // The thread that holds round_mutex_, and the one running the rule evaluation; none otherwise.
    std::atomic<std::thread::id> round_thread_{};
    std::atomic<std::thread::id> rule_thread_{};
};

}  // namespace framework

// The member templates defined out of the class.
#include "framework/detail/rule_evaluation.ipp"
#include "framework/detail/threshold_evaluation.ipp"
