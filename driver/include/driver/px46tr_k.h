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

protected:
    std::int32_t write_result_ = kWritePending;
    std::int32_t write_expect_ = -1;

private:
    int check_write_reply();
};
