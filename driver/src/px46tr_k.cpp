#include "driver/px46tr_k.h"

#include <cstring>
#include <mutex>

#include "catalogue/register_map.h"

using px46tr_k::kFirstStep;
using px46tr_k::kLastStep;
using px46tr_k::kRegisterMap;

PX46TR_K::PX46TR_K() {
    device_type_ = "px46tr_k";
    baud_rate_ = 9600;
    serial_flag_ = 1;
}

PX46TR_K::~PX46TR_K() = default;

// The framework stores the data identifier in the record before it loads the configuration.
bool PX46TR_K::InitSetting(const Json::Value& settings) { return UniDataDevice::InitSetting(settings); }

bool PX46TR_K::RefreshStatus() {
    SMDSPDevice::RefreshStatus();
    round_image_loads_ = image_loads();
    step_ = kFirstStep;
    modbus_read_registers(kRegisterMap.front().first_register, kRegisterMap.front().count);
    return true;
}

int PX46TR_K::process_payload(tab_type /*table*/, unsigned int /*count*/) {
    // The step is read once: a request on another thread may replace it at any moment, and the
    // reply is handled as the answer to what was awaited when it arrived.
    const std::int32_t step = step_;
    if (step == px46tr_k::kControlWriteRegister || step == px46tr_k::kControlWriteRegisters) {
        write_.judge(step, reply_regs_);
        Reset();
        return 0;
    }
    if (step < kFirstStep || step > kLastStep) return 1;

    const px46tr_k::RegisterRead& row = kRegisterMap[static_cast<std::size_t>(step - kFirstStep)];
    if (reply_regs_.size() < static_cast<std::size_t>(row.count)) {
        // A reply shorter than its read would be copied from past its end: end the round here,
        // as after an error reply, and keep the record as it is.
        framework::log_line(*diagnostics_, "PX46TR_K::process_payload short reply step:", step,
                            " words:", reply_regs_.size(), " expected:", row.count);
        return 0;
    }
    // Ends the round when it completes here, or when a cached record replaced the image since the
    // round began.
    if (!place_reply_block(row.record_offset, reply_regs_.data(), row.bytes(), step == kLastStep,
                           round_image_loads_)) {
        return 0;
    }
    // Move on only from the step this reply answered: a request that took the line meanwhile
    // wins, and the round is abandoned.
    std::int32_t answered = step;
    if (!step_.compare_exchange_strong(answered, step + 1)) return 0;
    const px46tr_k::RegisterRead& next = kRegisterMap[static_cast<std::size_t>(step + 1 - kFirstStep)];
    modbus_read_registers(next.first_register, next.count);
    return 1;
}
