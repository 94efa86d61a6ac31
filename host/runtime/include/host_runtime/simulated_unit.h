#pragma once

#include <array>
#include <cstdint>

#include "host/host_api.h"
#include "host_runtime/bus_link.h"

// An in-process unit with 65536 holding registers, all 0 unless set. It answers every request at
// once; requests that would run past register 65535 fail.
class SMD_HOST_API SimulatedUnit : public BusLink {
public:
    static constexpr int kRegisterCount = 65536;

    LinkResult transact(const ModbusRequest& request) override;

    std::uint16_t get(int reg) const { return registers_.at(static_cast<std::size_t>(reg)); }
    void set(int reg, std::uint16_t value) { registers_.at(static_cast<std::size_t>(reg)) = value; }

private:
    std::array<std::uint16_t, kRegisterCount> registers_{};
};
