#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/host_api.h"
#include "host/modbus_request.h"

// Outcome of one request carried over a link.
struct LinkResult {
    bool ok = false;
    std::vector<std::uint16_t> words;  // the reply as the device sees it in reply_regs_
    std::string error;                 // why the request failed, for the hosting program's log
};

// A way to reach the unit: the in-process simulated unit, or a real Modbus line. A read replies
// with the registers read; a single write with {value}; a multiple write with {16, count}.
class SMD_HOST_API BusLink {
public:
    virtual ~BusLink();
    virtual LinkResult transact(const ModbusRequest& request) = 0;
};
