#pragma once

#include <cstdint>
#include <vector>

// The simulated unit's holding registers: 0 to 7465, of which the unit answers only those of
// its register map (system information, lines A and B, the 48 feeder groups, the states, the
// ambient values and the alarm bit blocks).
namespace unit_sim {

inline constexpr int kRegisterCount = 7466;

class RegisterImage {
public:
    RegisterImage() : registers_(kRegisterCount, 0) {}

    // Registers outside 0 to 7465 throw std::out_of_range.
    std::uint16_t get(int reg) const { return registers_.at(static_cast<std::size_t>(reg)); }
    void set(int reg, std::uint16_t value) { registers_.at(static_cast<std::size_t>(reg)) = value; }
    // A signed 32-bit quantity in two registers, high register first.
    void set_s32(int reg, std::int32_t value);
    std::int32_t get_s32(int reg) const;

    const std::vector<std::uint16_t>& registers() const { return registers_; }

    // Whether every register from start to start + count - 1 is in the unit's register map.
    static bool in_map(int start, int count);

private:
    std::vector<std::uint16_t> registers_;
};

}  // namespace unit_sim
