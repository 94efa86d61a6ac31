#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "catalogue/px46tr_k_data.h"
#include "catalogue/record_fields.h"
#include "catalogue/register_map.h"

// The unit's signals and alarms as the driver names them: snapshot member names, their sources in
// the record, their scaling and codings, and the alarms the driver reports. Everything that names
// a signal (snapshot, alarm reports, catalogue listing, simulator, configuration check) walks
// the one sequence of snapshot_signals(), each entry with its source and decoding.
namespace px46tr_k {

// How a register or flag becomes a snapshot value.
enum class Coding : std::uint8_t {
    number,       // a JSON real: integer to single precision, divided in single precision
    switch_code,  // 0 正常, 1 告警, 2 空闲, 3 分闸, other 无效值
    surge_code,   // 0 正常, 1 告警, 2 空闲, other 无效值
    total_code,   // 1 告警, other 正常
    flag,         // 0 正常, other 告警
    time_text,    // the round stamp as "Y-M-D h:m:s"
};

// What a member adds to "AlertArray".
enum class Entry : std::uint8_t {
    none,
    boolean,     // true or false at every build
    alarm_only,  // the integer 1, written only while the code is 1
};

// The status word of a coded value (not for Coding::number or Coding::time_text).
const char* status_word(Coding coding, unsigned int value);

// Whether a coded value means "告警": a flag when set, any other coding at code 1.
inline bool means_alarm(Coding coding, std::int64_t raw) {
    const auto code = static_cast<unsigned int>(raw);
    return coding == Coding::flag ? code != 0 : code == 1;
}

// Status words.
inline constexpr const char kNormal[] = "正常";
inline constexpr const char kAlarm[] = "告警";
inline constexpr const char kIdle[] = "空闲";
inline constexpr const char kOpened[] = "分闸";
inline constexpr const char kInvalid[] = "无效值";

inline constexpr const char kAlertArray[] = "AlertArray";
inline constexpr const char kUpdateTime[] = "更新时间";
inline constexpr const char kFeederPrefix[] = "出线支路";
inline constexpr std::size_t kNameBufferSize = 128;  // names are composed into 128-byte buffers

// --- Fixed members read from single registers --------------------------------------------------

// Declared by register number (fixed_signal); the record offset follows from the register map.
struct FixedSignal {
    const char* name;
    std::size_t record_offset;  // the register's two bytes in the record
    Coding coding;
    float divisor;  // Coding::number only; 1 = unscaled
    Entry entry;
};

constexpr FixedSignal fixed_signal(const char* name, int reg, Coding coding, float divisor, Entry entry) {
    return FixedSignal{name, record_offset_of(reg), coding, divisor, entry};
}

// The fixed member read from register `reg` in one of the tables above (kSystemSignals, ...);
// nullptr when the table has none. Tools that give or show one member by what it is find it so,
// never by its place in the table.
template <std::size_t N>
constexpr const FixedSignal* fixed_signal_at(const FixedSignal (&table)[N], int reg) {
    for (const FixedSignal& s : table) {
        if (s.record_offset == record_offset_of(reg)) return &s;
    }
    return nullptr;
}

inline constexpr const char kSystemTotalAlarm[] = "系统总告警状态";
inline constexpr int kSystemTotalAlarmRegister = 4098;

inline constexpr FixedSignal kSystemSignals[] = {
    fixed_signal("系统硬件编码", 0, Coding::number, 1.0f, Entry::none),
    fixed_signal("系统软件版本号", 1, Coding::number, 1.0f, Entry::none),
    fixed_signal("系统序列号1", 2, Coding::number, 1.0f, Entry::none),
    fixed_signal("系统序列号2", 3, Coding::number, 1.0f, Entry::none),
};

inline constexpr FixedSignal kInlineStateSignals[] = {
    fixed_signal("A路进线防雷器开关状态", 4096, Coding::surge_code, 1.0f, Entry::alarm_only),
    fixed_signal("B路进线防雷器开关状态", 4097, Coding::surge_code, 1.0f, Entry::alarm_only),
    fixed_signal(kSystemTotalAlarm, kSystemTotalAlarmRegister, Coding::total_code, 1.0f, Entry::boolean),
    fixed_signal("A路进线总开关状态", 4099, Coding::switch_code, 1.0f, Entry::alarm_only),
    fixed_signal("A路进线防雷器状态", 4100, Coding::surge_code, 1.0f, Entry::alarm_only),
    fixed_signal("B路进线总开关状态", 4101, Coding::switch_code, 1.0f, Entry::alarm_only),
    fixed_signal("B路进线防雷器状态", 4102, Coding::surge_code, 1.0f, Entry::alarm_only),
};

// Read as unsigned 16-bit values.
inline constexpr int kAmbientTemperatureRegister = 4247;
inline constexpr int kAmbientHumidityRegister = 4248;
inline constexpr FixedSignal kAmbientSignals[] = {
    fixed_signal("环境温度", kAmbientTemperatureRegister, Coding::number, 10.0f, Entry::none),
    fixed_signal("环境湿度", kAmbientHumidityRegister, Coding::number, 10.0f, Entry::none),
};

// --- Incoming lines A and B --------------------------------------------------------------------

struct InlineLine {
    const char* letter;
    std::size_t record_offset;  // the line's 28-byte block
};

inline constexpr InlineLine kInlineLines[] = {{"A", record_offset_of(4)}, {"B", record_offset_of(18)}};
static_assert(kInlineLines[0].record_offset == offsetof(PX46TR_K_Data_t, inline_a) &&
              kInlineLines[1].record_offset == offsetof(PX46TR_K_Data_t, inline_b));

// Name format, applied to an empty prefix and the line letter; signed 32-bit field.
struct InlineMeasurement {
    const char* format;
    std::size_t field_offset;  // within the line's block
    float divisor;
    float second_divisor;  // a second single-precision division; 1 = none
};

inline constexpr InlineMeasurement kInlineMeasurements[] = {
    {"%s%s路进线-电压", inline_field::kVoltage, 100.0f, 1.0f},
    {"%s%s路路进线-电流", inline_field::kCurrent, 100.0f, 1.0f},
    {"%s%s路进线-有功功率", inline_field::kPower, 1000.0f, 1.0f},
    {"%s%s路进线-有功电能", inline_field::kEnergy, 10.0f, 1000.0f},
    {"%s%s路进线-电流负载比", inline_field::kLoadRatio, 100.0f, 1.0f},
};

// The measurement of a line's field (inline_field::k...), or nullptr.
constexpr const InlineMeasurement* inline_measurement(std::size_t field_offset) {
    for (const InlineMeasurement& m : kInlineMeasurements) {
        if (m.field_offset == field_offset) return &m;
    }
    return nullptr;
}

// The 24 incoming-line alarms, in snapshot and report order. The unit holds flags for the first
// five only (registers 7451 to 7455, non-zero meaning alarm); the polled data carries none for the
// others, which are therefore always inactive.
inline constexpr const char* kInlineAlarmNames[] = {
    "A路进线总开关开关告警",     "A路进线防雷器失效告警",     "B路进线总开关开关告警",
    "B路进线防雷器失效告警",     "进线总开关开关告警",        "进线防雷器失效告警",
    "A路进线旁路开关开关告警",   "A路进线防雷器开关开关告警", "B路进线旁路开关开关告警",
    "B路进线防雷器开关开关告警", "进线旁路开关告警",          "线防雷器开关告警",
    "A路进线电流越上限",         "B路进线电流越上限",         "进线电流越上限",
    "A路进线电流越上上限",       "B路进线电流越上上限",       "进线电流越上上限",
    "A路进线电压过压",           "B路进线电压过压",           "进线电压过压",
    "A路进线电压欠压",           "B路进线电压欠压",           "进线电压欠压",
};
inline constexpr int kInlineAlarmCount = 24;
static_assert(sizeof kInlineAlarmNames / sizeof kInlineAlarmNames[0] == kInlineAlarmCount);

// The alarm flag of incoming-line alarm m (0 to 23): its record offset, or 0 when the unit holds
// no flag for it.
constexpr std::size_t inline_alarm_offset(int m) {
    return m < kInlineAlarmRegisters
               ? offsetof(PX46TR_K_Data_t, inline_alarm) + 2 * static_cast<std::size_t>(m)
               : 0;
}

// --- Feeders 1 to 144 --------------------------------------------------------------------------

// Name format applied to an empty prefix and the feeder name ("出线支路" + "%02d" number); signed
// 32-bit field of the feeder group, divisor 100.
struct FeederMeasurement {
    const char* format;
    std::size_t field_offset;  // within the group, for its first feeder
};

inline constexpr FeederMeasurement kFeederMeasurements[] = {
    {"%s%s电压", feeder_field::kVoltage},         {"%s%s电流", feeder_field::kCurrent},
    {"%s%s有功功率", feeder_field::kPower},       {"%s%s有功电能", feeder_field::kEnergy},
    {"%s%s电流负载比", feeder_field::kLoadRatio},
};
inline constexpr float kFeederDivisor = 100.0f;

// The measurement of a feeder's field (feeder_field::k...), or nullptr.
constexpr const FeederMeasurement* feeder_measurement(std::size_t field_offset) {
    for (const FeederMeasurement& m : kFeederMeasurements) {
        if (m.field_offset == field_offset) return &m;
    }
    return nullptr;
}

// Applied to an empty prefix and the feeder number; switch code of the feeder's state register.
inline constexpr const char kFeederSwitchStateFormat[] = "%s出线支路%02d开关状态";

enum class FlagBlock { feeder_alarm_bits, feeder_open_bits };

// A family of one-bit feeder flags: feeder n has flag first_flag + n - 1 of the block. Names are
// the format applied to the prefix "出线支路" and the feeder number.
struct FeederFlagFamily {
    const char* format;
    FlagBlock block;
    int first_flag;
    Entry entry;
};

inline constexpr FeederFlagFamily kFeederSwitchAlarm{"%s%02d开关告警", FlagBlock::feeder_alarm_bits, 0,
                                                     Entry::none};
inline constexpr FeederFlagFamily kFeederCurrentHigh{"%s%02d电流越上线", FlagBlock::feeder_alarm_bits, 144,
                                                     Entry::boolean};
inline constexpr FeederFlagFamily kFeederCurrentHighHigh{"%s%02d电流越上上线", FlagBlock::feeder_alarm_bits,
                                                         288, Entry::boolean};
inline constexpr FeederFlagFamily kFeederSwitchOpen{"%s%02d开关分闸", FlagBlock::feeder_open_bits, 0,
                                                    Entry::boolean};

constexpr std::size_t flag_block_offset(FlagBlock block) {
    return block == FlagBlock::feeder_alarm_bits ? offsetof(PX46TR_K_Data_t, feeder_alarm_bits)
                                                 : offsetof(PX46TR_K_Data_t, feeder_open_bits);
}

// Record offset of feeder n's field (n from 1 to 144) given the field's offset for a group's
// first feeder.
constexpr std::size_t feeder_field_offset(int n, std::size_t field_offset) {
    const auto i = static_cast<std::size_t>(n - 1);
    return offsetof(PX46TR_K_Data_t, feeder_group) + 72 * (i / 3) + feeder_field::kFeederStride * (i % 3) +
           field_offset;
}
constexpr std::size_t feeder_switch_state_offset(int n) {
    return offsetof(PX46TR_K_Data_t, feeder_switch_state) + 2 * static_cast<std::size_t>(n - 1);
}
static_assert(feeder_field_offset(144, feeder_field::kVoltage) == 3460);
static_assert(feeder_switch_state_offset(144) == 3824);

// --- Name composition ----------------------------------------------------------------------------

// printf-style composition into a 128-byte buffer.
std::string compose_name(const char* format, const char* prefix, const char* text);
std::string compose_name(const char* format, const char* prefix, int number);

// Names composed once for the whole process and shared by every device, for n from 1 to 144
// (std::out_of_range otherwise):
// "出线支路" + the feeder number printed with "%02d";
const std::string& feeder_name(int n);
// feeder n's flag of one of the four families, its format applied to "出线支路" and n.
const std::string& feeder_flag_name(const FeederFlagFamily& family, int n);

// --- Scaling ---------------------------------------------------------------------------------

// An integer turned into single precision and divided, in single precision, by each divisor.
inline float scale(std::int64_t raw, float divisor, float second_divisor = 1.0f) {
    float value = static_cast<float>(raw) / divisor;
    if (second_divisor != 1.0f) value /= second_divisor;
    return value;
}

// --- The whole catalogue ---------------------------------------------------------------------

// Where a snapshot member or an alarm takes its value from, and how the value is read there.
struct SignalSource {
    enum class Kind : std::uint8_t {
        register16,     // one unsigned 16-bit register
        register_pair,  // signed 32-bit, high register first
        flag,           // one bit of a register
        none,           // nothing polled carries it: always normal / inactive
        round_stamp,    // the record's completion time
    };
    Kind kind = Kind::none;
    int first_register = -1;        // the unit's register (the high one of a pair)
    int bit = -1;                   // Kind::flag: bit of first_register
    std::size_t record_offset = 0;  // the field (a flag: its block; the round stamp: the stamp)
    int flag_index = -1;            // Kind::flag: index within the block

    // The integer the source holds in a record: the register as unsigned 16-bit, the pair as
    // signed 32-bit, the flag as 0 or 1; 0 without a source (and for the round stamp, a text).
    std::int64_t raw(const std::uint8_t* record) const {
        return read(kind, record + record_offset, flag_index);
    }
    // The same for a source of `kind` whose field (a flag: whose block) is at `at`.
    static std::int64_t read(Kind kind, const std::uint8_t* at, int flag_index) {
        if (kind == Kind::flag) return read_flag(at, flag_index);
        return field(kind, at);
    }
    // The same integer from the field's own bytes at `at`: the register or the pair, or for a flag
    // the flag unpacked into one byte (0 or 1).
    std::int64_t field(const std::uint8_t* at) const { return field(kind, at); }
    static std::int64_t field(Kind kind, const std::uint8_t* at) {
        switch (kind) {
            case Kind::register16:
                return read_u16(at);
            case Kind::register_pair:
                return read_s32(at);
            case Kind::flag:
                return *at;
            default:
                return 0;
        }
    }
};

struct SignalInfo {
    std::string name;
    Coding coding;
    float divisor = 1.0f;
    float second_divisor = 1.0f;
    Entry entry = Entry::none;
    SignalSource source;

    // The member's value given the integer its source holds (SignalSource::raw or field).
    float number(std::int64_t raw) const { return scale(raw, divisor, second_divisor); }
    const char* word(std::int64_t raw) const { return status_word(coding, static_cast<unsigned int>(raw)); }
    // Whether the code means "告警": the boolean entry is true and the alarm-only entry written;
    // the alarm the member shows is active.
    bool alarm(std::int64_t raw) const { return means_alarm(coding, raw); }
};

// The snapshot members in build order: 1488 of them, "更新时间" last.
const std::vector<SignalInfo>& snapshot_signals();

// The place of the member `name` in snapshot_signals(), or kNoSignal.
inline constexpr std::size_t kNoSignal = static_cast<std::size_t>(-1);
std::size_t signal_position(const std::string& name);

// The round stamp of a record as "Y-M-D h:m:s", plain decimals without leading zeros.
struct TimeText {
    char text[32];
};
TimeText round_time_text(const std::uint8_t* record);

// An alarm reported under the unicom profile: a view of the snapshot member that shows it, so
// that the member and the report take name, source and state from the one entry.
struct AlarmInfo {
    std::size_t member;          // the member's place in snapshot_signals()
    const SignalInfo& signal;    // the member
    const std::string& name;     // its name
    const SignalSource& source;  // its source

    // The system total alarm is active at code 1 only; any other alarm when its flag or register
    // is non-zero; an alarm without a source never.
    bool active_when_one() const { return signal.coding == Coding::total_code; }
    bool active(const std::uint8_t* record) const { return signal.alarm(source.raw(record)); }
};

// The alarms in report order: the system total alarm, 144 over-upper, 144 over-upper-upper, the
// 24 incoming-line alarms and 144 switch-opened; 457.
const std::vector<AlarmInfo>& reportable_alarms();

// Whether an alarm is active in a record.
inline bool alarm_active(const AlarmInfo& alarm, const PX46TR_K_Data_t& record) {
    return alarm.active(reinterpret_cast<const std::uint8_t*>(&record));
}

}  // namespace px46tr_k
