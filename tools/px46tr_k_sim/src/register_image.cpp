#include "unit_sim/register_image.h"

#include "catalogue/register_map.h"

namespace unit_sim {

void RegisterImage::set_s32(int reg, std::int32_t value) {
    const auto raw = static_cast<std::uint32_t>(value);
    set(reg, static_cast<std::uint16_t>(raw >> 16));
    set(reg + 1, static_cast<std::uint16_t>(raw & 0xffffu));
}

std::int32_t RegisterImage::get_s32(int reg) const {
    return static_cast<std::int32_t>((static_cast<std::uint32_t>(get(reg)) << 16) | get(reg + 1));
}

bool RegisterImage::in_map(int start, int count) {
    if (count < 1) return false;
    // Walk the reads of the map in register order, joining those that follow one another.
    int covered_to = start;
    for (const auto& row : px46tr_k::kRegisterMap) {
        if (row.first_register <= covered_to && row.first_register + row.count > covered_to) {
            covered_to = row.first_register + row.count;
        }
        if (covered_to >= start + count) return true;
    }
    return false;
}

}  // namespace unit_sim
