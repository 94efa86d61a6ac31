#include "host_runtime/bus_pump.h"

bool BusPump::pump_one() {
    const std::optional<ModbusRequest> request = device_.take_request();
    if (!request) return false;
    const LinkResult result = link_.transact(*request);
    ++carried_;
    if (result.ok) {
        device_.deliver_reply(result.words);
    } else {
        ++failed_;
        last_error_ = result.error;
        device_.deliver_error();
    }
    return true;
}

std::size_t BusPump::pump_all() {
    std::size_t carried = 0;
    while (pump_one()) ++carried;
    return carried;
}
