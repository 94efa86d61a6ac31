#pragma once

#include <cstdint>
#include <vector>

// A Modbus request that a device has issued and that waits for the host's bus to carry it.
struct ModbusRequest {
    enum class Kind { read_registers, write_register, write_registers };
    Kind kind = Kind::read_registers;
    int start = 0;
    int count = 0;                      // registers to read or write
    std::vector<std::uint16_t> values;  // values of a write
};
