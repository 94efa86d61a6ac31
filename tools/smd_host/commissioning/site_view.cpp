#include "site_view.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace {

constexpr std::size_t kWidth = 80;
// Rows the detail of a unit needs at least: its header (title, round status, the incoming lines'
// table and the ambient line), the list titles and two rows of the lists, and the cursor's line.
constexpr std::size_t kDetailRows = 12;

// "42 s", "5 min", "3 h", "2 d"; "-" before any data.
std::string age_text(const std::optional<std::time_t>& data_time, std::time_t now) {
    if (!data_time) return "-";
    const long age = std::max(0L, static_cast<long>(std::difftime(now, *data_time)));
    if (age < 60) return std::to_string(age) + " s";
    if (age < 3600) return std::to_string(age / 60) + " min";
    if (age < 86400) return std::to_string(age / 3600) + " h";
    return std::to_string(age / 86400) + " d";
}

// The reason of a failure, without the request and link ahead of it ("read 0+4 on tcp:10.0.0.7:502
// unit 3: ") that the unit's row already names, so that the reason fits.
std::string failure_reason(const std::string& failure) {
    const auto colon = failure.find(": ");
    if (colon == std::string::npos || failure.rfind(" on ", colon) == std::string::npos) return failure;
    return failure.substr(colon + 2);
}

std::string unit_row(const SiteViewUnit& unit, std::time_t now) {
    char cells[96];
    std::snprintf(cells, sizeof cells, "%4zu %4d %10u  %-9s %6s %6zu  ", unit.line + 1, unit.unit,
                  unit.data_id, unit.state.c_str(), age_text(unit.data_time, now).c_str(),
                  unit.active_alarms);
    const std::string row = cells;
    const std::size_t room = kWidth > display_width(row) ? kWidth - display_width(row) : 0;
    return row + fit_to_width(failure_reason(unit.last_failure), room);
}

// The line's counters, after its number as the units' rows give it.
std::string line_row(std::size_t index, const LinkCounters& c) {
    return fit_to_width("line " + std::to_string(index + 1) + "  requests " + std::to_string(c.requests) +
                            "  failures " + std::to_string(c.failures) + "  retries " +
                            std::to_string(c.retries) + "  busy retries " + std::to_string(c.busy_retries) +
                            "  reconnects " + std::to_string(c.reconnects),
                        kWidth);
}

std::string without_trailing_blanks(const std::string& line) {
    const auto end = line.find_last_not_of(' ');
    return end == std::string::npos ? std::string() : line.substr(0, end + 1);
}

}  // namespace

std::string render_site_view(const SiteViewFrame& frame) {
    std::ostringstream out;
    // The units' column titles, the clock at the right.
    char header[96];
    std::snprintf(header, sizeof header, "%4s %4s %10s  %-9s %6s %6s  %s", "Line", "Unit", "Data id", "State",
                  "Age", "Alarms", "Last failure");
    const std::string clock = local_clock_text(frame.now);
    out << fit_to_width(header, kWidth - display_width(clock)) << clock << "\n";

    // On a short screen the units that call for a look come first; the rest are counted.
    std::size_t room = frame.units.size();
    const std::size_t around = 1 + frame.lines.size() + kDetailRows;
    if (frame.screen_rows > 0 && frame.units.size() + around > frame.screen_rows) {
        room = frame.screen_rows > around + 1 ? frame.screen_rows - around - 1 : 0;
    }
    std::vector<bool> kept(frame.units.size(), false);
    std::size_t shown = 0;
    for (bool attention : {true, false}) {
        for (std::size_t i = 0; i < frame.units.size() && shown < room; ++i) {
            if (frame.units[i].attention != attention) continue;
            kept[i] = true;
            ++shown;
        }
    }
    std::size_t row_count = 1;
    for (std::size_t i = 0; i < frame.units.size(); ++i) {
        if (!kept[i]) continue;
        out << without_trailing_blanks(unit_row(frame.units[i], frame.now)) << "\n";
        ++row_count;
    }
    if (shown < frame.units.size()) {
        out << "  ... " << frame.units.size() - shown << " more units (a taller window shows them)\n";
        ++row_count;
    }
    for (std::size_t i = 0; i < frame.lines.size(); ++i) {
        out << without_trailing_blanks(line_row(i, frame.lines[i])) << "\n";
        ++row_count;
    }

    ViewFrame detail = frame.detail;
    detail.screen_rows = frame.screen_rows == 0          ? 0
                         : frame.screen_rows > row_count ? frame.screen_rows - row_count
                                                         : 1;
    out << render_view(detail);
    return out.str();
}
