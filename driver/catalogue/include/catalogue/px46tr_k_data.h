#pragma once

#include <cstddef>
#include <cstdint>

// The device data record: the unit's register image of one polling round, the device's data
// identifier and the time the round completed. It is published, stored and reloaded as one block
// of exactly 3921 bytes, so every offset below is a storage format. Registers are unsigned 16-bit
// values in native byte order; blocks are kept as bytes and read through the helpers of
// record_fields.h, never through pointers to packed members.
#pragma pack(push, 1)
struct PX46TR_K_Data_t {
    std::uint32_t data_id;                  // the device's data identifier
    std::uint8_t sys_info[8];               // registers 0-3: hardware code, version, serial 1, 2
    std::uint8_t inline_a[28];              // registers 4-17: incoming line A (InlineBlock)
    std::uint8_t inline_b[28];              // registers 18-31: incoming line B (InlineBlock)
    std::uint8_t feeder_group[48][72];      // registers 32-1759: feeders in groups of three
    std::uint8_t inline_state[14];          // registers 4096-4102: switch and surge states
    std::uint8_t feeder_switch_state[288];  // registers 4103-4246: one state per feeder
    std::uint8_t ambient[4];                // registers 4247-4248: temperature, humidity (/10)
    std::uint8_t feeder_alarm_bits[54];     // registers 7424-7450: 432 feeder alarm flags
    std::uint8_t inline_alarm[10];          // registers 7451-7455: incoming-line alarm flags
    std::uint8_t feeder_open_bits[20];      // registers 7456-7465: feeder switch-opened flags
    std::uint8_t round_stamp[7];            // completion time: year (u16), month, day, h, m, s
};
#pragma pack(pop)

static_assert(sizeof(PX46TR_K_Data_t) == 3921, "the record is exchanged as 3921 bytes");
static_assert(offsetof(PX46TR_K_Data_t, sys_info) == 4);
static_assert(offsetof(PX46TR_K_Data_t, inline_a) == 12);
static_assert(offsetof(PX46TR_K_Data_t, inline_b) == 40);
static_assert(offsetof(PX46TR_K_Data_t, feeder_group) == 68);
static_assert(offsetof(PX46TR_K_Data_t, inline_state) == 3524);
static_assert(offsetof(PX46TR_K_Data_t, feeder_switch_state) == 3538);
static_assert(offsetof(PX46TR_K_Data_t, ambient) == 3826);
static_assert(offsetof(PX46TR_K_Data_t, feeder_alarm_bits) == 3830);
static_assert(offsetof(PX46TR_K_Data_t, inline_alarm) == 3884);
static_assert(offsetof(PX46TR_K_Data_t, feeder_open_bits) == 3894);
static_assert(offsetof(PX46TR_K_Data_t, round_stamp) == 3914);

namespace px46tr_k {

inline constexpr std::size_t kRecordSize = sizeof(PX46TR_K_Data_t);
// Bytes 4 to 3913: the register image proper.
inline constexpr std::size_t kImageBegin = offsetof(PX46TR_K_Data_t, sys_info);
inline constexpr std::size_t kImageEnd = offsetof(PX46TR_K_Data_t, round_stamp);
// Data-type code the record is published with (the host's code for this record type).
inline constexpr int kDataTypeCode = 5156;

inline constexpr int kFeederCount = 144;
inline constexpr int kFeederGroupCount = 48;
inline constexpr int kFeedersPerGroup = 3;

// Byte offsets within one incoming-line block (14 registers); each field is a signed 32-bit pair.
namespace inline_field {
inline constexpr std::size_t kVoltage = 0;     // divisor 100
inline constexpr std::size_t kCurrent = 4;     // divisor 100
inline constexpr std::size_t kPower = 8;       // divisor 1000
inline constexpr std::size_t kEnergy = 12;     // divisor 10, then 1000
inline constexpr std::size_t kLoadRatio = 24;  // divisor 100 (bytes 16-23 are not interpreted)
}  // namespace inline_field

// Byte offsets within one feeder group (36 registers), for the group's first feeder; the second
// and third feeder's field lies 4 and 8 bytes further on. All signed 32-bit, divisor 100.
namespace feeder_field {
inline constexpr std::size_t kVoltage = 0;
inline constexpr std::size_t kCurrent = 12;
inline constexpr std::size_t kPower = 36;  // bytes 24-35 are not interpreted
inline constexpr std::size_t kEnergy = 48;
inline constexpr std::size_t kLoadRatio = 60;
inline constexpr std::size_t kFeederStride = 4;
}  // namespace feeder_field

// Flag layout of the bit blocks: flag k is bit (k mod 16) of the block's register (k div 16).
inline constexpr int kFeederAlarmFlags = 432;    // switch alarm, over upper, over upper-upper
inline constexpr int kFeederOpenFlags = 160;     // the first 144 are feeder switch opened
inline constexpr int kInlineAlarmRegisters = 5;  // registers 7451-7455

}  // namespace px46tr_k
