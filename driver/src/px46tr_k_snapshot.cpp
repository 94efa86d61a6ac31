// The JSON snapshot: the record of the last round under the unit's signal names.
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "driver/build_order.h"
#include "driver/px46tr_k.h"
#include "driver/record_fields.h"

using namespace px46tr_k;

namespace {

// A coded value that means "告警": its boolean entry is true, its alarm-only entry is written.
bool is_alarm(Coding coding, unsigned int value) { return coding == Coding::flag ? value != 0 : value == 1; }

// "1" to "144": the decimal texts the feeder writers take.
const char* decimal_text(int n) {
    static const std::vector<std::string> texts = [] {
        std::vector<std::string> out;
        for (int k = 0; k <= kFeederCount; ++k) out.push_back(std::to_string(k));
        return out;
    }();
    return texts.at(static_cast<std::size_t>(n)).c_str();
}

}  // namespace

void PX46TR_K::GenJsonData() {
    std::shared_ptr<const std::string> stale_text;  // released once the snapshot lock is
    std::lock_guard<std::mutex> lock(json_mutex_);
    if (update_time_ == json_time_) return;
    json_time_ = update_time_;
    // A kept 801 text is stale from now on: a device whose text is not asked for every round does
    // not hold it between requests.
    stale_text.swap(text_);
    json_.begin_build();
    build_ = BuildCursor{true, 0, 0};

    // The last completed record, never the one a round in progress is filling.
    const std::uint8_t* record = completed_bytes();
    auto write_fixed = [&](const FixedSignal& s) {
        const std::uint16_t raw = read_u16(record + s.record_offset);
        if (s.coding == Coding::number) {
            write_number(MemberName::whole(s.name), scale(raw, s.divisor));
        } else {
            write_coded(MemberName::whole(s.name), s.coding, raw, s.entry);
        }
    };
    // The writer of each feeder flag family.
    using FlagWriter = void (PX46TR_K::*)(const std::uint8_t*, const char*, int, const char*);
    static constexpr struct {
        const FeederFlagFamily* family;
        FlagWriter writer;
    } kFlagWriters[] = {{&kFeederSwitchAlarm, &PX46TR_K::_px46tr_k_FeederSwitchAlert},
                        {&kFeederCurrentHigh, &PX46TR_K::_px46tr_k_FeederCurrentHAlert},
                        {&kFeederCurrentHighHigh, &PX46TR_K::_px46tr_k_FeederCurrentHHAlert},
                        {&kFeederSwitchOpen, &PX46TR_K::_px46tr_k_FeederSwitchOpenAlert}};
    std::array<std::uint8_t, kFeederAlarmFlags> alarm_flags;
    unpack_flags(record + flag_block_offset(FlagBlock::feeder_alarm_bits), kFeederAlarmFlags,
                 alarm_flags.data());
    std::array<std::uint8_t, kFeederOpenFlags> open_flags;
    unpack_flags(record + flag_block_offset(FlagBlock::feeder_open_bits), kFeederOpenFlags,
                 open_flags.data());

    for (const OrderStep& step : kSnapshotOrder) {
        switch (step.kind) {
            case OrderStep::Kind::system_signals:
                for (const auto& s : kSystemSignals) write_fixed(s);
                break;
            case OrderStep::Kind::inline_lines:
                for (const auto& line : kInlineLines) {
                    std::uint8_t block[sizeof data_.inline_a];
                    std::memcpy(block, record + line.record_offset, sizeof block);
                    _px46tr_k_Inline(block, "", 0, line.letter);
                }
                break;
            case OrderStep::Kind::feeder_groups:
                for (int k = 0; k < kFeederGroupCount; ++k) {
                    std::uint8_t group[sizeof data_.feeder_group[0]];
                    std::memcpy(group, record + offsetof(PX46TR_K_Data_t, feeder_group) + sizeof group * k,
                                sizeof group);
                    const int first = kFeedersPerGroup * k + 1;
                    _px46tr_k_Feeder(group, "", 0, feeder_name(first).c_str(), feeder_name(first + 1).c_str(),
                                     feeder_name(first + 2).c_str());
                }
                break;
            case OrderStep::Kind::inline_states:
                for (const auto& s : kInlineStateSignals) write_fixed(s);
                break;
            case OrderStep::Kind::feeder_switch_states:
                for (int n = 1; n <= kFeederCount; ++n) {
                    _px46tr_k_SwitchStatus(record + feeder_switch_state_offset(n), "", n, decimal_text(n));
                }
                break;
            case OrderStep::Kind::ambient:
                for (const auto& s : kAmbientSignals) write_fixed(s);
                break;
            case OrderStep::Kind::feeder_flags: {
                const FeederFlagFamily& family = *step.family;
                const std::uint8_t* flags =
                    (family.block == FlagBlock::feeder_alarm_bits ? alarm_flags.data() : open_flags.data()) +
                    family.first_flag;
                for (const auto& w : kFlagWriters) {
                    if (w.family != step.family) continue;
                    for (int n = 1; n <= kFeederCount; ++n) {
                        (this->*w.writer)(flags++, kFeederPrefix, n, decimal_text(n));
                    }
                }
                break;
            }
            case OrderStep::Kind::inline_alarms:
                for (int m = 0; m < kInlineAlarmCount; ++m) {
                    const std::size_t offset = inline_alarm_offset(m);
                    const unsigned int value = offset != 0 ? read_u16(record + offset) : 0u;
                    write_coded(MemberName::whole(kInlineAlarmNames[m]), Coding::flag, value, Entry::boolean);
                }
                break;
            case OrderStep::Kind::update_time:
                write_update_time(record + offsetof(PX46TR_K_Data_t, round_stamp));
                break;
            case OrderStep::Kind::system_total_alarm:
                break;
        }
    }
    build_.active = false;
    json_.end_build();
}

void PX46TR_K::_px46tr_k_Inline(const std::uint8_t* block, const char* prefix, int /*unused*/,
                                const char* letter) {
    for (const auto& m : kInlineMeasurements) {
        write_number({m.format, prefix, letter, 0},
                     scale(read_s32(block + m.field_offset), m.divisor, m.second_divisor));
    }
}

void PX46TR_K::_px46tr_k_Feeder(const std::uint8_t* group, const char* prefix, int /*unused*/,
                                const char* first, const char* second, const char* third) {
    const char* const names[kFeedersPerGroup] = {first, second, third};
    for (const auto& m : kFeederMeasurements) {
        for (int i = 0; i < kFeedersPerGroup; ++i) {
            const std::size_t at = m.field_offset + feeder_field::kFeederStride * static_cast<std::size_t>(i);
            write_number({m.format, prefix, names[i], 0}, scale(read_s32(group + at), kFeederDivisor));
        }
    }
}

void PX46TR_K::_px46tr_k_SwitchStatus(const std::uint8_t* state, const char* prefix, int n,
                                      const char* /*unused*/) {
    write_coded({kFeederSwitchStateFormat, prefix, nullptr, n}, Coding::switch_code, read_u16(state),
                Entry::none);
}

void PX46TR_K::_px46tr_k_FeederSwitchAlert(const std::uint8_t* flag, const char* prefix, int n,
                                           const char* /*unused*/) {
    write_feeder_flag(kFeederSwitchAlarm, *flag, prefix, n);
}

void PX46TR_K::_px46tr_k_FeederCurrentHAlert(const std::uint8_t* flag, const char* prefix, int n,
                                             const char* /*unused*/) {
    write_feeder_flag(kFeederCurrentHigh, *flag, prefix, n);
}

void PX46TR_K::_px46tr_k_FeederCurrentHHAlert(const std::uint8_t* flag, const char* prefix, int n,
                                              const char* /*unused*/) {
    write_feeder_flag(kFeederCurrentHighHigh, *flag, prefix, n);
}

void PX46TR_K::_px46tr_k_FeederSwitchOpenAlert(const std::uint8_t* flag, const char* prefix, int n,
                                               const char* /*unused*/) {
    write_feeder_flag(kFeederSwitchOpen, *flag, prefix, n);
}

void PX46TR_K::write_feeder_flag(const FeederFlagFamily& family, std::uint8_t flag, const char* prefix,
                                 int n) {
    write_coded({family.format, prefix, nullptr, n}, Coding::flag, flag, family.entry);
}

void PX46TR_K::write_number(const MemberName& name, float value) {
    SnapshotTree::assign(slot_value(name, nullptr), static_cast<double>(value));
    next_member();
}

// The member first, then its "AlertArray" entry. Status words are the catalogue's own texts, held
// by address.
void PX46TR_K::write_coded(const MemberName& name, Coding coding, unsigned int value, Entry entry) {
    SnapshotTree::assign_text(slot_value(name, nullptr), status_word(coding, value));
    const bool alarm = is_alarm(coding, value);
    if (entry == Entry::boolean) {
        SnapshotTree::assign(slot_value(name, kAlertArray), alarm);
    } else if (entry == Entry::alarm_only) {
        if (alarm) {
            SnapshotTree::assign(slot_value(name, kAlertArray), 1);
        } else {
            skip_slot();
        }
    }
    next_member();
}

// "Y-M-D h:m:s", plain decimals without leading zeros: a text of the round's own, so that a copy
// of the tree keeps its round's time.
void PX46TR_K::write_update_time(const std::uint8_t* stamp) {
    char text[32];
    std::snprintf(text, sizeof text, "%u-%u-%u %u:%u:%u", static_cast<unsigned>(read_u16(stamp)), stamp[2],
                  stamp[3], stamp[4], stamp[5], stamp[6]);
    json_.assign_owned_text(slot_value(MemberName::whole(kUpdateTime), nullptr), text);
    next_member();
}

// In a build, the slot of the value written next: kept since an earlier build, or, at its first
// write, the member inserted under the catalogue's shared name (the name the writer composes, so
// a writer that composed another would get a member of its own, found by name at every build).
// Outside a build, the member found by name.
Json::Value& PX46TR_K::slot_value(const MemberName& name, const char* object) {
    std::size_t slot = 0;
    if (build_.active) {
        slot = build_.slot++;
        if (Json::Value* kept = json_.kept(slot)) return *kept;
    }
    const std::string composed = name.composed();
    const std::vector<SignalInfo>& catalogue = snapshot_signals();
    if (build_.active && build_.member < catalogue.size() && catalogue[build_.member].name == composed) {
        return json_.keep(slot, object, catalogue[build_.member].name);
    }
    return object != nullptr ? json_[object][composed] : json_[composed];
}

// An alarm-only entry not written this time keeps its slot for the build that writes it.
void PX46TR_K::skip_slot() {
    if (build_.active) ++build_.slot;
}

void PX46TR_K::next_member() {
    if (build_.active) ++build_.member;
}
