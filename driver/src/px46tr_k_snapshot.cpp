// The JSON snapshot: the record of the last round under the unit's signal names.
#include <cassert>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "catalogue/record_fields.h"
#include "driver/px46tr_k.h"

using namespace px46tr_k;

namespace {

// What a build reads of one catalogue member, packed into 10 bytes. A build walks every member; the
// catalogue's own entries (names and all, 80 bytes each, 119 KB) would stream through the
// processor's caches at every build of every device, where these (15 KB) stay.
struct BuildStep {
    std::uint16_t record_offset;  // the source's field (a flag: its block)
    std::int16_t flag_index;      // a flag: its index in the block
    std::uint16_t entry_slot;     // where the member has an "AlertArray" entry: its slot
    SignalSource::Kind kind;
    Coding coding;
    Entry entry;
    std::uint8_t divisors;  // Coding::number: its place in BuildPlan::divisors

    std::int64_t raw(const std::uint8_t* record) const {
        return SignalSource::read(kind, record + record_offset, flag_index);
    }
};
static_assert(sizeof(BuildStep) == 10, "a build step is packed");

// The build's steps in catalogue order, then its slots: each member's value at its catalogue
// position, then each "AlertArray" entry, in catalogue order. Shared by every device.
struct BuildPlan {
    std::vector<BuildStep> steps;
    std::vector<std::pair<float, float>> divisors;  // the catalogue's distinct divisor pairs
    std::size_t slot_count = 0;
};

std::uint8_t divisor_place(std::vector<std::pair<float, float>>& divisors, const SignalInfo& signal) {
    const std::pair<float, float> pair{signal.divisor, signal.second_divisor};
    std::size_t place = 0;
    while (place < divisors.size() && divisors[place] != pair) ++place;
    if (place == divisors.size()) divisors.push_back(pair);
    if (place > UINT8_MAX) throw std::logic_error("more divisor pairs than a build step holds");
    return static_cast<std::uint8_t>(place);
}

const BuildPlan& build_plan() {
    static const BuildPlan plan = [] {
        const std::vector<SignalInfo>& catalogue = snapshot_signals();
        BuildPlan made;
        made.slot_count = catalogue.size();
        made.steps.reserve(catalogue.size());
        for (const SignalInfo& signal : catalogue) {
            const std::size_t entry_slot = signal.entry != Entry::none ? made.slot_count++ : 0;
            if (signal.source.record_offset > UINT16_MAX || entry_slot > UINT16_MAX) {
                throw std::logic_error("a build step cannot hold " + signal.name);
            }
            made.steps.push_back(BuildStep{
                static_cast<std::uint16_t>(signal.source.record_offset),
                static_cast<std::int16_t>(signal.source.flag_index), static_cast<std::uint16_t>(entry_slot),
                signal.source.kind, signal.coding, signal.entry, divisor_place(made.divisors, signal)});
        }
        return made;
    }();
    return plan;
}

// A member's value from the integer its source holds, then its "AlertArray" entry: always for a
// boolean entry; for an alarm-only one while the code means "告警", or when `raised_before` says
// the device has raised it already. `slot(object)` is where the member's value (object null) or
// its entry in `object` lives. Status words are the catalogue's own texts, held by address.
// Returns whether the alarm is raised now.
template <typename Slot>
bool write_value(const BuildStep& step, std::int64_t raw, bool raised_before, Slot&& slot) {
    if (step.coding == Coding::number) {
        const auto& [divisor, second_divisor] = build_plan().divisors[step.divisors];
        framework::SnapshotTree::assign(slot(nullptr),
                                        static_cast<double>(scale(raw, divisor, second_divisor)));
        return false;
    }
    framework::SnapshotTree::assign_text(slot(nullptr),
                                         status_word(step.coding, static_cast<unsigned int>(raw)));
    if (step.entry == Entry::none) return false;
    const bool alarm = means_alarm(step.coding, raw);
    if (step.entry == Entry::boolean) {
        framework::SnapshotTree::assign(slot(kAlertArray), alarm);
    } else if (alarm || raised_before) {
        framework::SnapshotTree::assign(slot(kAlertArray), 1);
    }
    return alarm;
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
    const BuildPlan& plan = build_plan();
    json_.reserve_slots(plan.slot_count);
    building_ = true;

    // The last completed record, never the one a round in progress is filling.
    const std::uint8_t* record = completed_bytes();
    for (std::size_t position = 0; position < plan.steps.size(); ++position) {
        const BuildStep& step = plan.steps[position];
        if (step.coding == Coding::time_text) {
            // A text of the round's own, so that a copy of the tree keeps its round's time.
            json_.assign_time_text(member_slot(position, nullptr), round_time_text(record).text);
        } else {
            write_member(position, step.raw(record));
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
void PX46TR_K::write_member(std::size_t position, std::int64_t raw) {
    const BuildStep& step = build_plan().steps[position];
    const bool alarm_only = step.entry == Entry::alarm_only;
    if (alarm_only && raised_alarm_only_.empty()) raised_alarm_only_.resize(snapshot_signals().size());
    const bool raised_before = alarm_only && raised_alarm_only_[position];
    const bool raised = write_value(step, raw, raised_before, [&](const char* object) -> Json::Value& {
        return member_slot(position, object);
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
        write_member(position, raw);
        return;
    }
    write_value(build_plan().steps[position], raw, false, [&](const char* object) -> Json::Value& {
        return object != nullptr ? json_[object][name] : json_[name];
    });
}

// In a build, the slot of the member at `position` in the catalogue (object null), or of its entry
// in `object`: kept since an earlier build, or inserted under the catalogue's name at its first
// write. Slots go by catalogue position, so a value not written in one build (an alarm-only entry)
// leaves every other in its place. Outside a build, the member found by name.
Json::Value& PX46TR_K::member_slot(std::size_t position, const char* object) {
    if (building_) {
        const std::size_t slot = object != nullptr ? build_plan().steps[position].entry_slot : position;
        if (Json::Value* kept = json_.kept(slot)) {
            assert(json_.holds(*kept, object, snapshot_signals()[position].name));
            return *kept;
        }
        return json_.keep(slot, object, snapshot_signals()[position].name);
    }
    const std::string& name = snapshot_signals()[position].name;
    return object != nullptr ? json_[object][name] : json_[name];
}
