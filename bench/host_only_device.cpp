#include "host_only_device.h"

#include <cstring>

#include "catalogue/register_map.h"

namespace bench {

using px46tr_k::kRegisterMap;

bool HostOnlyDevice::RefreshStatus() {
    SPModbus::RefreshStatus();
    next_row_ = 0;
    modbus_read_registers(kRegisterMap.front().first_register, kRegisterMap.front().count);
    return true;
}

int HostOnlyDevice::process_payload(tab_type /*table*/, unsigned int /*count*/) {
    if (next_row_ >= kRegisterMap.size()) return 0;
    const px46tr_k::RegisterRead& row = kRegisterMap[next_row_];
    if (reply_regs_.size() < static_cast<std::size_t>(row.count)) return 0;
    std::memcpy(record_.data() + row.record_offset, reply_regs_.data(), row.bytes());
    if (++next_row_ < kRegisterMap.size()) {
        modbus_read_registers(kRegisterMap[next_row_].first_register, kRegisterMap[next_row_].count);
        return 1;
    }
    SendSP(px46tr_k::kDataTypeCode, record_.data(), record_.size(), false);
    Reset();
    DoBatchCheckThreshold(nothing_gathered_);
    SaveDeviceHistory(record_.data(), record_.size());
    ++rounds_;
    return 0;
}

}  // namespace bench
