#include "site_view_frame.h"

#include <chrono>

#include "framework/operator_profile.h"

namespace {

// Whether the unit's last round, if any, completed: a unit being polled counts as its last round
// left it.
bool completed(const UnitStatus& unit) {
    return unit.last_end != RoundState::failed && unit.last_end != RoundState::backing_off;
}

}  // namespace

SiteViewFrame site_view_frame(const SiteStatus& status, std::optional<unsigned int> detail_data_id,
                              const std::map<unsigned int, int>& profiles, std::time_t now) {
    SiteViewFrame frame;
    frame.now = now;
    for (const LineStatus& line : status.lines()) frame.lines.push_back(line.counters);
    const std::vector<UnitStatus> units = status.units();
    std::vector<std::shared_ptr<const Json::Value>> snapshots;
    std::optional<std::size_t> detail;
    for (std::size_t i = 0; i < units.size(); ++i) {
        const UnitStatus& unit = units[i];
        snapshots.push_back(status.snapshot_tree(i));
        SiteViewUnit row;
        row.line = unit.line;
        row.unit = unit.unit;
        row.data_id = unit.data_id;
        row.state = round_state_name(unit.state);
        if (unit.data_time) row.data_time = std::chrono::system_clock::to_time_t(*unit.data_time);
        row.active_alarms = snapshots.back() ? active_alarms(*snapshots.back()).size() : 0;
        row.last_failure = unit.last_error;
        row.attention = !completed(unit) || row.active_alarms > 0;
        if (detail_data_id && unit.data_id == *detail_data_id) detail = i;
        frame.units.push_back(std::move(row));
    }
    // A unit whose rounds fail before one with alarms: alarms are a unit's daily life, a unit
    // that does not answer is news.
    const auto first = [&](auto&& wanted) -> std::optional<std::size_t> {
        for (std::size_t i = 0; i < units.size(); ++i) {
            if (wanted(i)) return i;
        }
        return std::nullopt;
    };
    if (!detail_data_id) {
        detail = first([&](std::size_t i) { return !completed(units[i]); });
        if (!detail) detail = first([&](std::size_t i) { return frame.units[i].active_alarms > 0; });
        if (!detail && !units.empty()) detail = 0;
    }
    if (!detail) return frame;

    // The unit's last ended round, not the one on the wire: a unit polled at this moment keeps
    // showing what it showed.
    const UnitStatus& unit = units[*detail];
    ViewFrame& view = frame.detail;
    view.title = unit.name;
    view.round = static_cast<int>(unit.rounds_completed + unit.rounds_failed);
    const auto profile = profiles.find(unit.data_id);
    view.profile =
        profile != profiles.end() ? profile->second : framework::profile_value(framework::kDefaultProfile);
    view.completed = completed(unit);
    if (!view.completed && !unit.last_error.empty()) view.stop_cause = "(" + unit.last_error + ")";
    view.data_time = frame.units[*detail].data_time;
    view.now = now;
    if (snapshots[*detail]) view.snapshot = *snapshots[*detail];
    view.show_reports = false;
    return frame;
}
