// The JSON snapshot: the record of the last round under the unit's signal names.
#include <cassert>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "catalogue/record_fields.h"
#include "driver/px46tr_k.h"

using namespace px46tr_k;

namespace {

// A member's value from the integer its source holds, then its "AlertArray" entry: always for a
// boolean entry; for an alarm-only one while the code means "告警", or when `raised_before` says
// the device has raised it already. `slot(object)` is where the member's value (object null) or
// its entry in `object` lives. Status words are the catalogue's own texts, held by address.
// Returns whether the alarm is raised now.
template <typename Slot>
bool write_value(const SignalInfo& signal, std::int64_t raw, bool raised_before, Slot&& slot) {
    if (signal.coding == Coding::number) {
        framework::SnapshotTree::assign(slot(nullptr), static_cast<double>(signal.number(raw)));
        return false;
    }
    framework::SnapshotTree::assign_text(slot(nullptr), signal.word(raw));
    if (signal.entry == Entry::none) return false;
    const bool alarm = signal.alarm(raw);
    if (signal.entry == Entry::boolean) {
        framework::SnapshotTree::assign(slot(kAlertArray), alarm);
    } else if (alarm || raised_before) {
        framework::SnapshotTree::assign(slot(kAlertArray), 1);
    }
    return alarm;
}

// The slots of a build: each member's value at its catalogue position, then each "AlertArray"
// entry, in catalogue order. Shared by every device.
struct SlotNumbers {
    std::vector<std::size_t> entry;  // by catalogue position; meaningful where the signal has an entry
    std::size_t count = 0;
};

const SlotNumbers& slot_numbers() {
    static const SlotNumbers numbers = [] {
        const std::vector<SignalInfo>& catalogue = snapshot_signals();
        SlotNumbers made;
        made.count = catalogue.size();
        made.entry.resize(catalogue.size());
        for (std::size_t position = 0; position < catalogue.size(); ++position) {
            if (catalogue[position].entry != Entry::none) made.entry[position] = made.count++;
        }
        return made;
    }();
    return numbers;
}

}  // namespace

void PX46TR_K::GenJsonData() {
    std::shared_ptr<const framework::SnapshotText> stale_text;  // released once the snapshot lock is
    std::lock_guard<std::mutex> lock(json_mutex_);
    if (update_time_ == json_time_) return;
    json_time_ = update_time_;
    // A kept 801 text is stale from now on: a device whose text is not asked for every round does
    // not hold it between requests.
    stale_text = json_.take_text();
    json_.begin_build();
    json_.reserve_slots(slot_numbers().count);
    building_ = true;

    // The last completed record, never the one a round in progress is filling.
    const std::uint8_t* record = completed_bytes();
    const std::vector<SignalInfo>& catalogue = snapshot_signals();
    for (std::size_t position = 0; position < catalogue.size(); ++position) {
        const SignalInfo& signal = catalogue[position];
        if (signal.coding == Coding::time_text) {
            // A text of the round's own, so that a copy of the tree keeps its round's time.
            json_.assign_time_text(member_slot(position, signal.name, nullptr), round_time_text(record).text);
        } else {
            write_member(position, signal, signal.source.raw(record));
        }
    }
    building_ = false;
    json_.end_build();
}

void PX46TR_K::_px46tr_k_Inline(const std::uint8_t* block, const char* prefix, int /*unused*/,
                                const char* letter) {
    for (const auto& m : kInlineMeasurements) {
        write_adapted(compose_name(m.format, prefix, letter), compose_name(m.format, "", letter),
                      block + m.field_offset);
    }
}

void PX46TR_K::_px46tr_k_Feeder(const std::uint8_t* group, const char* prefix, int /*unused*/,
                                const char* first, const char* second, const char* third) {
    const char* const names[kFeedersPerGroup] = {first, second, third};
    for (const auto& m : kFeederMeasurements) {
        for (int i = 0; i < kFeedersPerGroup; ++i) {
            const std::size_t at = m.field_offset + feeder_field::kFeederStride * static_cast<std::size_t>(i);
            write_adapted(compose_name(m.format, prefix, names[i]), compose_name(m.format, "", names[i]),
                          group + at);
        }
    }
}

void PX46TR_K::_px46tr_k_SwitchStatus(const std::uint8_t* state, const char* prefix, int n,
                                      const char* /*unused*/) {
    write_adapted(compose_name(kFeederSwitchStateFormat, prefix, n),
                  compose_name(kFeederSwitchStateFormat, "", n), state);
}

void PX46TR_K::_px46tr_k_FeederSwitchAlert(const std::uint8_t* flag, const char* prefix, int n,
                                           const char* /*unused*/) {
    write_adapted(compose_name(kFeederSwitchAlarm.format, prefix, n), feeder_flag_name(kFeederSwitchAlarm, n),
                  flag);
}

void PX46TR_K::_px46tr_k_FeederCurrentHAlert(const std::uint8_t* flag, const char* prefix, int n,
                                             const char* /*unused*/) {
    write_adapted(compose_name(kFeederCurrentHigh.format, prefix, n), feeder_flag_name(kFeederCurrentHigh, n),
                  flag);
}

void PX46TR_K::_px46tr_k_FeederCurrentHHAlert(const std::uint8_t* flag, const char* prefix, int n,
                                              const char* /*unused*/) {
    write_adapted(compose_name(kFeederCurrentHighHigh.format, prefix, n),
                  feeder_flag_name(kFeederCurrentHighHigh, n), flag);
}

void PX46TR_K::_px46tr_k_FeederSwitchOpenAlert(const std::uint8_t* flag, const char* prefix, int n,
                                               const char* /*unused*/) {
    write_adapted(compose_name(kFeederSwitchOpen.format, prefix, n), feeder_flag_name(kFeederSwitchOpen, n),
                  flag);
}

// An alarm-only entry, once raised, is kept for the device's life, in a tree built anew too.
void PX46TR_K::write_member(std::size_t position, const SignalInfo& signal, std::int64_t raw) {
    const bool alarm_only = signal.entry == Entry::alarm_only;
    if (alarm_only && raised_alarm_only_.empty()) raised_alarm_only_.resize(snapshot_signals().size());
    const bool raised_before = alarm_only && raised_alarm_only_[position];
    const bool raised = write_value(signal, raw, raised_before, [&](const char* object) -> Json::Value& {
        return member_slot(position, signal.name, object);
    });
    if (alarm_only && raised) raised_alarm_only_[position] = true;
}

// The catalogue entry `entry_name` decodes the field at `field`; a writer that composed the entry's
// own name writes it as the build does, one that composed another writes a member of that name.
void PX46TR_K::write_adapted(const std::string& name, const std::string& entry_name,
                             const std::uint8_t* field) {
    const std::size_t position = signal_position(entry_name);
    if (position == kNoSignal) throw std::out_of_range("no snapshot member " + entry_name);
    const SignalInfo& signal = snapshot_signals()[position];
    const std::int64_t raw = signal.source.field(field);
    if (name == signal.name) {
        write_member(position, signal, raw);
        return;
    }
    write_value(signal, raw, false, [&](const char* object) -> Json::Value& {
        return object != nullptr ? json_[object][name] : json_[name];
    });
}

// In a build, the slot of the member at `position` in the catalogue, named `name` there (object
// null), or of its entry in `object`: kept since an earlier build, or inserted under the
// catalogue's name at its first write. Slots go by catalogue position, so a value not written in
// one build (an alarm-only entry) leaves every other in its place. Outside a build, the member
// found by name.
Json::Value& PX46TR_K::member_slot(std::size_t position, const std::string& name, const char* object) {
    if (!building_) return object != nullptr ? json_[object][name] : json_[name];
    const std::size_t slot = object != nullptr ? slot_numbers().entry[position] : position;
    if (Json::Value* kept = json_.kept(slot)) {
        assert(json_.holds(*kept, object, name));
        return *kept;
    }
    return json_.keep(slot, object, name);
}
