#include "host_runtime/bus_pump.h"

#include <utility>

bool BusPump::pump_one() {
    const std::optional<ModbusRequest> request = device_.take_request();
    if (!request) return false;
    LinkResult result = link_.transact(*request);
    ++carried_;
    if (result.ok) {
        device_.deliver_reply(result.words);
    } else {
        ++failed_;
        last_failure_ = std::move(result);
        device_.deliver_error();
    }
    return true;
}

std::size_t BusPump::pump_all() {
    std::size_t carried = 0;
    while (pump_one()) ++carried;
    return carried;
}
