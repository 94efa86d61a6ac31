#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <json/value.h>
#include <boost/date_time/posix_time/ptime.hpp>

#include "host/host_api.h"
#include "host/rule_value.h"
#include "host/vdevice_interface.h"

class HostObserver;  // the hosting program's view of host calls (the runtime)
class SMDController;

// The host's virtual device: publication, history, alarm bookkeeping and control requests.
class SMD_HOST_API SMDVDevice : public VDeviceInterface {
public:
    // Report setting of one analogue signal: when its value is to be reported again.
    struct BAOSetting {
        bool abs_enabled = false;
        float abs_band = 0;
        bool pct_enabled = false;
        float pct_band = 0;
        bool period_enabled = false;
        float period_minutes = 0;
        std::uint32_t last_time = 0;
        float last_value = 0;
    };

    SMDVDevice();
    ~SMDVDevice() override;

    int DeviceIoControl(int code, const void* in, int in_len, void* out, int out_size, int& out_len) override;

    virtual bool Reset();
    virtual bool InitV(SMDVDevice* parent, unsigned int data_id, const Json::Value& config);
    virtual bool Init(std::weak_ptr<SMDController> controller, unsigned int data_id,
                      const Json::Value& config);
    // Takes the host's part of the settings object: for each member K of "thresholdSetting"
    // that is an object, "AlarmLevel" (number or text, read with atoi) into alarm_levels_[K] and
    // "Threshold" (number or text, read with atof) into alarm_thresholds_[K], each only when
    // given; for each member K of "aoReportSetting" that is an object, a fresh report setting in
    // bao_settings_[K] whose "absBand", "pctBand" and "periodMinutes" (numbers) turn on their
    // flags. The device evaluates these maps while a round completes, without a lock of the
    // host's: a device calls this with its round completion held off (as UniDataDevice does);
    // otherwise call it only between rounds.
    virtual bool InitSetting(const Json::Value& settings);
    virtual bool IsSupportDevice(const std::string& type) const;
    virtual std::shared_ptr<SMDVDevice> GetChildVDevice(unsigned int /*index*/) {
        return std::shared_ptr<SMDVDevice>();
    }
    virtual std::vector<std::shared_ptr<SMDVDevice>> GetAllChildVDevices() {
        return std::vector<std::shared_ptr<SMDVDevice>>();
    }
    virtual bool SendSP(int type, const unsigned char* bytes, unsigned int length, bool flag);
    virtual bool SendDelayData(int delay);
    virtual bool SendDoData(int index, char value);
    virtual int ReadDi(int index);
    virtual int ReadAi(int index);
    virtual std::string Get_SP_Value(unsigned int id, const std::string& name);

    bool SaveDeviceHistory(const unsigned char* bytes, unsigned int length);
    // Raises or clears the analogue alarm `alarm_id`: active while `value` exceeds the host's
    // threshold for it (alarm_thresholds_); a change of state is gathered into rule_values_.
    bool CheckThreshold(const std::string& alarm_id, const std::string& name, const float& value, int serial);
    // Sets the state of alarm `alarm_id`; a change of state is gathered into rule_values_.
    bool CheckThresholdBool(int level, const std::string& alarm_id, const std::string& signal,
                            const std::string& value_text, const std::string& message, bool state,
                            unsigned short serial);
    bool CheckAOReport(const std::string& signal_id, float value);
    // True when the batch holds a change of alarm state.
    bool DoBatchCheckThreshold(const std::vector<rule_value>& values);

    // Host side: the observer that sees every host operation this device calls (may be null),
    // and the result that the host's own DeviceIoControl handler gives. Install both before the
    // device is used. The observer is called on whichever thread calls the host, holding no lock
    // of the host's: calls on several threads may overlap, so an observer that several threads
    // reach keeps itself consistent; and it may call back into its device, as a host operation of
    // a real host may.
    void set_observer(HostObserver* observer) { observer_ = observer; }
    void set_io_control_result(int result) { io_control_result_ = result; }
    // Host side: the round time (update_time_) the next round completion takes in place of the
    // device's clock, from the moment the device publishes its record (SendSP) on. A host that
    // loads stored records back to back into one device gives each a time of its own, so that the
    // device rebuilds its snapshot for each although several load within one second. The device
    // reads update_time_ under its snapshot lock, which the host cannot take: give round times
    // only to a device that no other thread calls meanwhile.
    void give_round_time(boost::posix_time::ptime time) { given_round_time_ = time; }

protected:
    // Hands the installed observer, if any, to `tell`; nothing of the call is built when no
    // observer is installed.
    template <typename Tell>
    void notify(Tell&& tell) const {
        if (observer_ != nullptr) tell(*observer_);
    }

    // Report settings of analogue signals by identifier. The device reads and extends this map
    // while a round completes, under a lock of its own that the host cannot take: the host
    // changes it only in InitSetting, which the device calls with its round completion held off.
    std::map<std::string, BAOSetting> bao_settings_;
    std::uint16_t check_seq_ = 0;
    boost::posix_time::ptime update_time_;
    // Set by round completion, read by value queries on other threads.
    std::atomic<bool> data_ready_{false};
    std::vector<rule_value> rule_values_;
    std::uint8_t alarm_changed_ = 0;
    std::map<std::string, int> alarm_levels_;
    std::map<std::string, float> alarm_thresholds_;

private:
    HostObserver* observer_ = nullptr;
    int io_control_result_ = 0;
    boost::posix_time::ptime given_round_time_;  // not a date-time: none given
    // Alarm states by the two identifying texts of a report: threshold groups report the signal
    // name and the rule's own identifier, so several rules of one signal stay apart.
    std::map<std::pair<std::string, std::string>, bool> alarm_states_;
    std::weak_ptr<SMDController> controller_;

    bool record_state(int level, const std::string& alarm_id, const std::string& signal,
                      const std::string& value_text, const std::string& message, bool state,
                      unsigned short serial);
};
