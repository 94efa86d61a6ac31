#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>

#include "catalogue/px46tr_k_data.h"

// The unit's register map as one polling round reads it: 62 register reads, each copied whole
// into the next bytes of the record. The polling chain walks this table to issue the reads and to
// place the replies; row i is awaited while step_ is kFirstStep + i.
namespace px46tr_k {

struct RegisterRead {
    int first_register;
    int count;                  // registers read, 2 bytes each in the record
    std::size_t record_offset;  // where the reply lands in the record
    constexpr std::size_t bytes() const { return 2 * static_cast<std::size_t>(count); }
};

inline constexpr int kReadCount = 62;
inline constexpr int kFirstStep = 11;
inline constexpr int kLastStep = kFirstStep + kReadCount - 1;

namespace detail {
constexpr std::array<RegisterRead, kReadCount> make_register_map() {
    std::array<RegisterRead, kReadCount> rows{};
    std::size_t offset = kImageBegin;
    int row = 0;
    auto add = [&](int first, int count) {
        rows[row++] = RegisterRead{first, count, offset};
        offset += 2 * static_cast<std::size_t>(count);
    };
    add(0, 4);                                                         // system information
    add(4, 14);                                                        // incoming line A
    add(18, 14);                                                       // incoming line B
    for (int k = 0; k < kFeederGroupCount; ++k) add(32 + 36 * k, 36);  // feeders 3k+1 to 3k+3
    add(4096, 7);                                                      // incoming states
    for (int r = 0; r < 6; ++r) add(4103 + 24 * r, 24);                // feeder switch states
    add(4247, 2);                                                      // ambient
    add(7424, 27);                                                     // feeder alarm flags
    add(7451, 5);                                                      // incoming-line alarms
    add(7456, 10);                                                     // feeder opened flags
    return rows;
}

constexpr bool rows_are_contiguous(const std::array<RegisterRead, kReadCount>& rows) {
    for (std::size_t i = 1; i < rows.size(); ++i) {
        if (rows[i].record_offset != rows[i - 1].record_offset + 2 * rows[i - 1].count) return false;
    }
    return true;
}

constexpr std::size_t row_at_offset(const std::array<RegisterRead, kReadCount>& rows, std::size_t offset) {
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].record_offset == offset) return i;
    }
    return rows.size();
}
}  // namespace detail

inline constexpr std::array<RegisterRead, kReadCount> kRegisterMap = detail::make_register_map();

static_assert(kRegisterMap.size() == 62, "a polling round is 62 reads");
static_assert(detail::rows_are_contiguous(kRegisterMap), "replies land back to back");
static_assert(kRegisterMap.front().record_offset == kImageBegin);
static_assert(kRegisterMap.back().record_offset + 2 * kRegisterMap.back().count == kImageEnd,
              "the reads fill the 3910-byte register image exactly");
// Each block of the record starts with its read.
constexpr bool block_is_read_from(std::size_t record_offset, int first_register) {
    const std::size_t row = detail::row_at_offset(kRegisterMap, record_offset);
    return row < kRegisterMap.size() && kRegisterMap[row].first_register == first_register;
}
static_assert(block_is_read_from(offsetof(PX46TR_K_Data_t, feeder_group), 32));
static_assert(block_is_read_from(offsetof(PX46TR_K_Data_t, inline_state), 4096));
static_assert(block_is_read_from(offsetof(PX46TR_K_Data_t, feeder_switch_state), 4103));
static_assert(block_is_read_from(offsetof(PX46TR_K_Data_t, ambient), 4247));
static_assert(block_is_read_from(offsetof(PX46TR_K_Data_t, feeder_alarm_bits), 7424));
static_assert(block_is_read_from(offsetof(PX46TR_K_Data_t, inline_alarm), 7451));
static_assert(block_is_read_from(offsetof(PX46TR_K_Data_t, feeder_open_bits), 7456));

// The register of the unit that lands at a record offset inside the register image, or -1.
constexpr int register_at(std::size_t record_offset) {
    for (const RegisterRead& row : kRegisterMap) {
        if (record_offset >= row.record_offset && record_offset < row.record_offset + row.bytes()) {
            return row.first_register + static_cast<int>((record_offset - row.record_offset) / 2);
        }
    }
    return -1;
}

// The record offset where a register of the unit lands: the inverse of register_at. A register
// that no read of the round covers makes no constant, so a table naming one does not compile.
constexpr std::size_t record_offset_of(int reg) {
    for (const RegisterRead& row : kRegisterMap) {
        if (reg >= row.first_register && reg < row.first_register + row.count) {
            return row.record_offset + 2 * static_cast<std::size_t>(reg - row.first_register);
        }
    }
    throw std::out_of_range("the register is not polled");
}
static_assert(record_offset_of(0) == kImageBegin);
static_assert(record_offset_of(4098) == 3528 && register_at(record_offset_of(4098)) == 4098);
static_assert(record_offset_of(4247) == offsetof(PX46TR_K_Data_t, ambient));
static_assert(record_offset_of(7465) == kImageEnd - 2 && register_at(kImageEnd - 2) == 7465);

}  // namespace px46tr_k
