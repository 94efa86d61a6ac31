#include "catalogue/signal_catalogue.h"

#include <cstdio>
#include <stdexcept>
#include <unordered_map>

#include "catalogue/record_fields.h"
#include "catalogue/register_map.h"

namespace px46tr_k {

const char* status_word(Coding coding, unsigned int value) {
    switch (coding) {
        case Coding::switch_code: {
            static const char* const words[] = {kNormal, kAlarm, kIdle, kOpened};
            return value < 4 ? words[value] : kInvalid;
        }
        case Coding::surge_code: {
            static const char* const words[] = {kNormal, kAlarm, kIdle};
            return value < 3 ? words[value] : kInvalid;
        }
        case Coding::total_code:
            return value == 1 ? kAlarm : kNormal;
        case Coding::flag:
            return value != 0 ? kAlarm : kNormal;
        case Coding::number:
        case Coding::time_text:
            break;
    }
    return kInvalid;
}

std::string compose_name(const char* format, const char* prefix, const char* text) {
    char name[kNameBufferSize];
    std::snprintf(name, sizeof name, format, prefix, text);
    return name;
}

std::string compose_name(const char* format, const char* prefix, int number) {
    char name[kNameBufferSize];
    std::snprintf(name, sizeof name, format, prefix, number);
    return name;
}

namespace {

// The format applied to the prefix and each feeder number from 1 to 144.
std::vector<std::string> per_feeder(const char* format, const char* prefix) {
    std::vector<std::string> out;
    for (int n = 1; n <= kFeederCount; ++n) out.push_back(compose_name(format, prefix, n));
    return out;
}

}  // namespace

const std::string& feeder_name(int n) {
    static const std::vector<std::string> names = per_feeder("%s%02d", kFeederPrefix);
    return names.at(static_cast<std::size_t>(n - 1));
}

const std::string& feeder_flag_name(const FeederFlagFamily& family, int n) {
    static constexpr const FeederFlagFamily* kFamilies[] = {&kFeederSwitchAlarm, &kFeederCurrentHigh,
                                                            &kFeederCurrentHighHigh, &kFeederSwitchOpen};
    static const std::vector<std::vector<std::string>> names = [] {
        std::vector<std::vector<std::string>> out;
        for (const FeederFlagFamily* f : kFamilies) out.push_back(per_feeder(f->format, kFeederPrefix));
        return out;
    }();
    for (std::size_t f = 0; f < names.size(); ++f) {
        if (kFamilies[f] == &family) return names[f].at(static_cast<std::size_t>(n - 1));
    }
    throw std::out_of_range("not a feeder flag family");
}

namespace {

// The order of the snapshot members and of the unit's alarm report, written once: the catalogue
// is built from these lists and everything else walks the catalogue.
struct OrderStep {
    enum class Kind {
        system_signals,        // kSystemSignals
        inline_lines,          // kInlineMeasurements of lines A and B
        feeder_groups,         // kFeederMeasurements of the 48 feeder groups
        inline_states,         // kInlineStateSignals
        feeder_switch_states,  // the 144 feeder switch states
        ambient,               // kAmbientSignals
        feeder_flags,          // one family of feeder flags, feeders 1 to 144
        inline_alarms,         // the 24 incoming-line alarms
        system_total_alarm,    // the system total alarm, as a report
        update_time,           // "更新时间"
    };
    Kind kind;
    const FeederFlagFamily* family = nullptr;  // Kind::feeder_flags only
};

// The snapshot members, reading the record block after block.
constexpr OrderStep kSnapshotOrder[] = {
    {OrderStep::Kind::system_signals},
    {OrderStep::Kind::inline_lines},
    {OrderStep::Kind::feeder_groups},
    {OrderStep::Kind::inline_states},
    {OrderStep::Kind::feeder_switch_states},
    {OrderStep::Kind::ambient},
    {OrderStep::Kind::feeder_flags, &kFeederSwitchAlarm},
    {OrderStep::Kind::feeder_flags, &kFeederCurrentHigh},
    {OrderStep::Kind::feeder_flags, &kFeederCurrentHighHigh},
    {OrderStep::Kind::inline_alarms},
    {OrderStep::Kind::feeder_flags, &kFeederSwitchOpen},
    {OrderStep::Kind::update_time},
};

// The unit's alarm report under the unicom profile; each alarm is the snapshot member of its name.
constexpr OrderStep kAlarmReportOrder[] = {
    {OrderStep::Kind::system_total_alarm},
    {OrderStep::Kind::feeder_flags, &kFeederCurrentHigh},
    {OrderStep::Kind::feeder_flags, &kFeederCurrentHighHigh},
    {OrderStep::Kind::inline_alarms},
    {OrderStep::Kind::feeder_flags, &kFeederSwitchOpen},
};

SignalSource register16_at(std::size_t offset) {
    return SignalSource{SignalSource::Kind::register16, register_at(offset), -1, offset, -1};
}

SignalSource register_pair_at(std::size_t offset) {
    return SignalSource{SignalSource::Kind::register_pair, register_at(offset), -1, offset, -1};
}

SignalSource flag_of(FlagBlock block, int flag_index) {
    const std::size_t block_offset = flag_block_offset(block);
    return SignalSource{SignalSource::Kind::flag,
                        register_at(block_offset + 2 * static_cast<std::size_t>(flag_index / 16)),
                        flag_index % 16, block_offset, flag_index};
}

SignalSource inline_alarm_source(int m) {
    const std::size_t offset = inline_alarm_offset(m);
    return offset != 0 ? register16_at(offset) : SignalSource{};
}

void add_fixed(std::vector<SignalInfo>& out, const FixedSignal& s) {
    out.push_back(SignalInfo{s.name, s.coding, s.divisor, 1.0f, s.entry, register16_at(s.record_offset)});
}

void add_feeder_flags(std::vector<SignalInfo>& out, const FeederFlagFamily& family) {
    for (int n = 1; n <= kFeederCount; ++n) {
        out.push_back(SignalInfo{feeder_flag_name(family, n), Coding::flag, 1.0f, 1.0f, family.entry,
                                 flag_of(family.block, family.first_flag + n - 1)});
    }
}

std::vector<SignalInfo> build_snapshot_signals() {
    std::vector<SignalInfo> out;
    for (const OrderStep& step : kSnapshotOrder) {
        switch (step.kind) {
            case OrderStep::Kind::system_signals:
                for (const auto& s : kSystemSignals) add_fixed(out, s);
                break;
            case OrderStep::Kind::inline_lines:
                for (const auto& line : kInlineLines) {
                    for (const auto& m : kInlineMeasurements) {
                        out.push_back(SignalInfo{compose_name(m.format, "", line.letter), Coding::number,
                                                 m.divisor, m.second_divisor, Entry::none,
                                                 register_pair_at(line.record_offset + m.field_offset)});
                    }
                }
                break;
            case OrderStep::Kind::feeder_groups:
                for (int group = 0; group < kFeederGroupCount; ++group) {
                    for (const auto& m : kFeederMeasurements) {
                        for (int k = 1; k <= kFeedersPerGroup; ++k) {
                            const int n = group * kFeedersPerGroup + k;
                            out.push_back(
                                SignalInfo{compose_name(m.format, "", feeder_name(n).c_str()), Coding::number,
                                           kFeederDivisor, 1.0f, Entry::none,
                                           register_pair_at(feeder_field_offset(n, m.field_offset))});
                        }
                    }
                }
                break;
            case OrderStep::Kind::inline_states:
                for (const auto& s : kInlineStateSignals) add_fixed(out, s);
                break;
            case OrderStep::Kind::feeder_switch_states:
                for (int n = 1; n <= kFeederCount; ++n) {
                    out.push_back(SignalInfo{compose_name(kFeederSwitchStateFormat, "", n),
                                             Coding::switch_code, 1.0f, 1.0f, Entry::none,
                                             register16_at(feeder_switch_state_offset(n))});
                }
                break;
            case OrderStep::Kind::ambient:
                for (const auto& s : kAmbientSignals) add_fixed(out, s);
                break;
            case OrderStep::Kind::feeder_flags:
                add_feeder_flags(out, *step.family);
                break;
            case OrderStep::Kind::inline_alarms:
                for (int m = 0; m < kInlineAlarmCount; ++m) {
                    out.push_back(SignalInfo{kInlineAlarmNames[m], Coding::flag, 1.0f, 1.0f, Entry::boolean,
                                             inline_alarm_source(m)});
                }
                break;
            case OrderStep::Kind::update_time: {
                SignalSource stamp;
                stamp.kind = SignalSource::Kind::round_stamp;
                stamp.record_offset = offsetof(PX46TR_K_Data_t, round_stamp);
                out.push_back(SignalInfo{kUpdateTime, Coding::time_text, 1.0f, 1.0f, Entry::none, stamp});
                break;
            }
            case OrderStep::Kind::system_total_alarm:
                break;
        }
    }
    return out;
}

// The members that a report step reports, by name: the snapshot shows every alarm as a member of
// the same name.
void add_alarms(std::vector<AlarmInfo>& out, const std::vector<SignalInfo>& signals, const OrderStep& step) {
    const auto add = [&](const std::string& name) {
        const std::size_t member = signal_position(name);
        if (member == kNoSignal) throw std::logic_error("an alarm without its member: " + name);
        out.push_back(AlarmInfo{member, signals[member], signals[member].name, signals[member].source});
    };
    switch (step.kind) {
        case OrderStep::Kind::system_total_alarm:
            add(kSystemTotalAlarm);
            break;
        case OrderStep::Kind::feeder_flags:
            for (int n = 1; n <= kFeederCount; ++n) add(feeder_flag_name(*step.family, n));
            break;
        case OrderStep::Kind::inline_alarms:
            for (const char* name : kInlineAlarmNames) add(name);
            break;
        default:
            break;
    }
}

std::vector<AlarmInfo> build_reportable_alarms() {
    const std::vector<SignalInfo>& signals = snapshot_signals();
    std::vector<AlarmInfo> out;
    for (const OrderStep& step : kAlarmReportOrder) add_alarms(out, signals, step);
    return out;
}

}  // namespace

const std::vector<SignalInfo>& snapshot_signals() {
    static const std::vector<SignalInfo> signals = build_snapshot_signals();
    return signals;
}

const std::vector<AlarmInfo>& reportable_alarms() {
    static const std::vector<AlarmInfo> alarms = build_reportable_alarms();
    return alarms;
}

std::size_t signal_position(const std::string& name) {
    static const std::unordered_map<std::string, std::size_t> positions = [] {
        std::unordered_map<std::string, std::size_t> out;
        const std::vector<SignalInfo>& signals = snapshot_signals();
        for (std::size_t i = 0; i < signals.size(); ++i) out.emplace(signals[i].name, i);
        return out;
    }();
    const auto found = positions.find(name);
    return found == positions.end() ? kNoSignal : found->second;
}

TimeText round_time_text(const std::uint8_t* record) {
    const std::uint8_t* stamp = record + offsetof(PX46TR_K_Data_t, round_stamp);
    TimeText time;
    std::snprintf(time.text, sizeof time.text, "%u-%u-%u %u:%u:%u", static_cast<unsigned>(read_u16(stamp)),
                  stamp[2], stamp[3], stamp[4], stamp[5], stamp[6]);
    return time;
}

}  // namespace px46tr_k
