#include "driver/px46tr_k.h"

#include <cstring>

#include "driver/register_map.h"

using px46tr_k::kFirstStep;
using px46tr_k::kLastStep;
using px46tr_k::kRegisterMap;

PX46TR_K::PX46TR_K() {
    device_type_ = "px46tr_k";
    baud_rate_ = 9600;
    serial_flag_ = 1;
}

PX46TR_K::~PX46TR_K() = default;

bool PX46TR_K::InitSetting(const Json::Value& settings) {
    data_.data_id = DataId();
    return UniDataDevice::InitSetting(settings);
}

bool PX46TR_K::RefreshStatus() {
    SMDSPDevice::RefreshStatus();
    step_ = kFirstStep;
    modbus_read_registers(kRegisterMap.front().first_register, kRegisterMap.front().count);
    return true;
}

int PX46TR_K::process_payload(tab_type /*table*/, unsigned int /*count*/) {
    if (step_ == kStepWriteRegister || step_ == kStepWriteRegisters) return check_write_reply();
    if (step_ < kFirstStep || step_ > kLastStep) return 1;

    const px46tr_k::RegisterRead& row = kRegisterMap[static_cast<std::size_t>(step_ - kFirstStep)];
    if (reply_regs_.size() < static_cast<std::size_t>(row.count)) {
        // A reply shorter than its read would be copied from past its end: end the round here,
        // as after an error reply, and keep the record as it is.
        log_line("PX46TR_K::process_payload short reply step:", step_, " words:",
                 reply_regs_.size(), " expected:", row.count);
        return 0;
    }
    std::memcpy(record_bytes() + row.record_offset, reply_regs_.data(), row.bytes());
    if (step_ == kLastStep) {
        RoundDone();
        return 0;
    }
    ++step_;
    const px46tr_k::RegisterRead& next = kRegisterMap[static_cast<std::size_t>(step_ - kFirstStep)];
    modbus_read_registers(next.first_register, next.count);
    return 1;
}

int PX46TR_K::check_write_reply() {
    bool confirmed;
    if (step_ == kStepWriteRegister) {
        confirmed = !reply_regs_.empty() && reply_regs_[0] == write_expect_;
    } else {
        confirmed = reply_regs_.size() >= 2 && reply_regs_[0] == 16 &&
                    reply_regs_[1] == write_expect_;
    }
    write_result_ = confirmed ? kWriteConfirmed : kWriteRefused;
    Reset();
    return 0;
}
