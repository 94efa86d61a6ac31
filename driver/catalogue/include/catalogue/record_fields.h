#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// Reads of the record's packed fields. The record is byte-packed, so fields may sit at any
// address: copy the bytes out (native order, as the host delivers registers) instead of casting.
namespace px46tr_k {

inline std::uint16_t read_u16(const std::uint8_t* at) {
    std::uint16_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

inline void write_u16(std::uint8_t* at, std::uint16_t value) { std::memcpy(at, &value, sizeof value); }

// A 32-bit quantity is two registers, high register first, read as two's complement.
inline std::int32_t read_s32(const std::uint8_t* at) {
    const std::uint32_t raw = (static_cast<std::uint32_t>(read_u16(at)) << 16) | read_u16(at + 2);
    return static_cast<std::int32_t>(raw);
}

// Flag k of a bit block: bit (k mod 16), least significant first, of register (k div 16).
inline std::uint8_t read_flag(const std::uint8_t* block, int k) {
    const std::uint16_t reg = read_u16(block + 2 * static_cast<std::size_t>(k / 16));
    return static_cast<std::uint8_t>((reg >> (k % 16)) & 1u);
}

}  // namespace px46tr_k
