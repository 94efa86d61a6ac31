#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/host_api.h"

// A Modbus request that a device has issued and that waits for the host's bus to carry it.
struct ModbusRequest {
    enum class Kind { read_registers, write_register, write_registers };
    Kind kind = Kind::read_registers;
    int start = 0;
    int count = 0;                      // registers to read or write
    std::vector<std::uint16_t> values;  // values of a write
};

// The request as messages name it: "read 4096+7" (function 03, first register, count), "write 206+1"
// (06) or "write 210+4" (16).
SMD_HOST_API std::string describe_request(const ModbusRequest& request);
