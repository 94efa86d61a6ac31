#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "host/host_api.h"
#include "host/modbus_request.h"

// Outcome of one request carried over a link.
struct LinkResult {
    bool ok = false;
    std::vector<std::uint16_t> words;  // the reply as the device sees it in reply_regs_
    std::string error;                 // which request failed and why, for the hosting program's log
};

// A way to reach the unit: the in-process simulated unit, or a real Modbus line. A read replies
// with the registers read; a single write with {value}; a multiple write with {16, count}.
class SMD_HOST_API BusLink {
public:
    using Clock = std::chrono::steady_clock;

    virtual ~BusLink();
    virtual LinkResult transact(const ModbusRequest& request) = 0;
    // The earliest time a request can reach the unit: a link waiting to connect again fails every
    // request at once before then. The epoch when a request can go now.
    virtual Clock::time_point next_attempt() const { return Clock::time_point{}; }
};
