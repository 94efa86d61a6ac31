#pragma once

#include <cstdint>

#include <json/value.h>

#include "driver/px46tr_k_data.h"
#include "framework/uni_data_device.h"
#include "host/sp_modbus.h"

// The driver of the power-distribution monitoring unit: polls the unit's register image into the
// record, builds the snapshot of its signals, reports its alarm flags and answers control
// requests.
class PX46TR_K : public UniDataDevice<PX46TR_K_Data_t, SPModbus, px46tr_k::kDataTypeCode> {
public:
    // Steps of a pending register write (single, multiple); the reply is checked against it.
    static constexpr int kStepWriteRegister = 206;
    static constexpr int kStepWriteRegisters = 210;
    // Outcomes of a register write, as read back by the host.
    static constexpr int kWritePending = -1;
    static constexpr int kWriteConfirmed = 1;
    static constexpr int kWriteRefused = 3;

    PX46TR_K();
    ~PX46TR_K() override;

    // Stores the data identifier in the record, then loads the configuration.
    bool InitSetting(const Json::Value& settings) override;

    // Starts a polling round at the first read of the register map; always true.
    bool RefreshStatus() override;
    // Places one reply of a round in the record and issues the next read, completing the round
    // after the last; checks the reply of a pending write. 1 when a further read was issued (or
    // no reply was awaited), 0 when the round or the write has ended.
    int process_payload(tab_type table, unsigned int count) override;

    // The unit's own alarm flags, reported under the unicom profile only: the system total alarm,
    // the feeders' over-upper and over-upper-upper current alarms, the 24 incoming-line alarms and
    // the feeders' switch-opened flags, in that order. Only alarms whose name the configuration
    // maps to an identifier are reported, each with its state and the next serial. Reads the
    // alarm rules under json_mutex_, which the caller must not hold.
    void RunCheckThreshold() override;
    // Report feeder n's alarm of one family from one unpacked flag (0 or 1), its name composed
    // from `prefix` and n; nothing under another profile. Return the flags consumed, always 1.
    // Called by RunCheckThreshold with json_mutex_ held.
    int _px46tr_k_FeederCurrentHAlert_alert(const std::uint8_t* flag, const char* prefix, int n);
    int _px46tr_k_FeederCurrentHHAlert_alert(const std::uint8_t* flag, const char* prefix, int n);
    int _px46tr_k_FeederSwitchOpenAlert_alert(const std::uint8_t* flag, const char* prefix, int n);

protected:
    std::int32_t write_result_ = kWritePending;
    std::int32_t write_expect_ = -1;

private:
    int check_write_reply();
};
