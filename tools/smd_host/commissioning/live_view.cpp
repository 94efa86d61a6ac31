#include "live_view.h"

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <utility>

#include "catalogue/signal_catalogue.h"
#include "feeder_table.h"
#include "record_snapshot.h"
#include "user_input/utf8_code_point.h"

namespace {

using px46tr_k::Coding;

constexpr std::size_t kWidth = 80;

// Wide code points: CJK, Hangul, full-width forms and the like.
bool is_wide(char32_t c) {
    return (c >= 0x1100 && c <= 0x115f) || (c >= 0x2e80 && c <= 0xa4cf) || (c >= 0xac00 && c <= 0xd7a3) ||
           (c >= 0xf900 && c <= 0xfaff) || (c >= 0xfe30 && c <= 0xfe4f) || (c >= 0xff00 && c <= 0xff60) ||
           (c >= 0xffe0 && c <= 0xffe6) || (c >= 0x20000 && c <= 0x3fffd);
}

// Columns a code point takes in a terminal.
std::size_t columns(char32_t c) { return is_wide(c) ? 2 : 1; }

// Pads (or cuts) a text to exactly `width` columns, left-aligned.
std::string fit(const std::string& text, std::size_t width) {
    std::string out;
    std::size_t used = 0;
    for (std::size_t i = 0; i < text.size();) {
        const Utf8CodePoint c = code_point_at(text, i);
        if (used + columns(c.value) > width) break;
        out.append(text, i, c.length);
        used += columns(c.value);
        i += c.length;
    }
    return out + std::string(width - used, ' ');
}

std::string number(const Json::Value& value, int decimals, int width) {
    char text[32];
    if (value.isNumeric()) {
        std::snprintf(text, sizeof text, "%*.*f", width, decimals, value.asDouble());
    } else {
        std::snprintf(text, sizeof text, "%*s", width, "-");
    }
    return text;
}

std::string without_trailing_blanks(const std::string& text) {
    std::istringstream lines(text);
    std::string out;
    for (std::string line; std::getline(lines, line);) {
        line.erase(line.find_last_not_of(' ') + 1);
        out += line + "\n";
    }
    return out;
}

std::string text_of(const Json::Value& value) { return value.isString() ? value.asString() : "-"; }

// `text` cut at spaces into lines of at most `width` columns (a longer word is cut), each ending
// in a new line; the lines after the first are indented by two.
std::string wrapped(const std::string& text, std::size_t width) {
    std::string out;
    std::string line;
    std::istringstream words(text);
    for (std::string word; words >> word;) {
        if (!line.empty() && display_width(line) + 1 + display_width(word) > width) {
            out += fit(line, width) + "\n";
            line = "  ";
        }
        line += (line.empty() || line == "  " ? "" : " ") + word;
    }
    if (!line.empty()) out += fit(line, width) + "\n";
    return out;
}

// Whether the round completed, and how old the shown data is.
std::string round_status(const ViewFrame& frame) {
    if (frame.round == 0) return "no round has ended yet";
    std::string status = frame.completed ? "round completed" : "ROUND NOT COMPLETED " + frame.stop_cause;
    if (!frame.data_time) return frame.completed ? status : status + "; no data: no round has completed yet";
    const long age = static_cast<long>(std::difftime(frame.now, *frame.data_time));
    status += "; data of " + local_clock_text(*frame.data_time);
    if (!frame.completed || age > 0) status += ", " + std::to_string(age) + " s old";
    return status;
}

// A column of the incoming lines' table: the line's field it shows, and how.
struct LineColumn {
    std::size_t field;  // px46tr_k::inline_field
    int decimals;
    int width;
};
constexpr LineColumn kLineColumns[] = {
    {px46tr_k::inline_field::kVoltage, 2, 11},  {px46tr_k::inline_field::kCurrent, 2, 11},
    {px46tr_k::inline_field::kPower, 3, 11},    {px46tr_k::inline_field::kEnergy, 3, 14},
    {px46tr_k::inline_field::kLoadRatio, 2, 8},
};

}  // namespace

std::string local_clock_text(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

std::string fit_to_width(const std::string& text, std::size_t width) { return fit(text, width); }

std::size_t display_width(const std::string& text) {
    std::size_t width = 0;
    for (std::size_t i = 0; i < text.size();) {
        const Utf8CodePoint c = code_point_at(text, i);
        width += columns(c.value);
        i += c.length;
    }
    return width;
}

void ViewReportKeeper::on_check_threshold_bool(const CheckThresholdBoolCall& c) {
    // The threshold groups pass the signal name second and the identifier third.
    const bool groups = framework::is_profile(profile_, framework::OperatorProfile::kThresholdGroups);
    reports_.push_back({c.signal, c.state ? "active" : "clear", groups ? c.alarm_id : c.value_text});
}

void ViewReportKeeper::on_check_threshold(const CheckThresholdCall& c) {
    reports_.push_back({c.alarm_id, "value " + number(c.value, 2, 0), c.name});
}

void ViewReportKeeper::on_check_ao_report(const CheckAOReportCall& c) {
    reports_.push_back({c.signal_id, "value " + number(c.value, 2, 0), "reported"});
}

std::vector<ViewReport> ViewReportKeeper::take() { return std::exchange(reports_, {}); }

std::string render_view(const ViewFrame& frame) {
    const Json::Value& s = frame.snapshot;
    std::ostringstream out;
    out << fit(frame.title + "  round " + std::to_string(frame.round) + "  profile " +
                   std::to_string(frame.profile) + "  " + iso_8601_time(text_of(s[px46tr_k::kUpdateTime])),
               kWidth)
        << "\n";
    out << wrapped(round_status(frame), kWidth);
    if (!s.isObject()) {
        // Only a round that completed tells that the profile builds no snapshot.
        if (frame.round > 0 && (frame.completed || frame.data_time))
            out << "no snapshot (the profile builds none)\n";
        return without_trailing_blanks(out.str());
    }

    out << "Line     Voltage    Current      Power        Energy   Load%\n";
    for (const auto& line : px46tr_k::kInlineLines) {
        out << fit(line.letter, 4);
        for (const LineColumn& column : kLineColumns) {
            const auto* m = px46tr_k::inline_measurement(column.field);
            out << number(
                m == nullptr ? Json::Value() : s[px46tr_k::compose_name(m->format, "", line.letter)],
                column.decimals, column.width);
        }
        out << "\n";
    }
    const auto ambient = [&](int reg) {
        const auto* a = px46tr_k::fixed_signal_at(px46tr_k::kAmbientSignals, reg);
        return a == nullptr ? Json::Value() : s[a->name];
    };
    out << "Ambient " << number(ambient(px46tr_k::kAmbientTemperatureRegister), 1, 0) << " °C  "
        << number(ambient(px46tr_k::kAmbientHumidityRegister), 1, 0) << " %RH\n";

    // Feeders that carry current or are not normal.
    const FeederTable table = feeder_table(s);
    std::vector<std::string> feeder_lines;
    for (const FeederRow& feeder : table.rows) {
        std::string alarms;
        for (const auto& alarm : feeder.alarms) alarms += (alarms.empty() ? "" : " ") + alarm;
        char no[8];
        std::snprintf(no, sizeof no, "%4d", feeder.n);
        std::ostringstream row;
        row << no << number(feeder.voltage, 2, 9) << number(feeder.current, 2, 9)
            << number(feeder.power, 2, 9) << number(feeder.load_ratio, 2, 8) << "  " << fit(feeder.state, 8)
            << fit(alarms, 30);
        feeder_lines.push_back(row.str());
    }

    std::vector<std::string> active;
    for (const auto& name : active_alarms(s)) active.push_back("  " + fit(name, kWidth - 2));
    std::vector<std::string> report_lines;
    for (std::size_t i = 0; frame.show_reports && i < frame.reports.size(); ++i) {
        const ViewReport& report = frame.reports[i];
        report_lines.push_back("  " + fit(report.identifier, 24) + fit(report.state, 14) +
                               fit(report.name, kWidth - 40));
    }

    // On a screen of limited height the header stays whole and the three lists share the lines
    // left, a line at a time in turn; a list that is cut ends in a line saying how many more
    // there are.
    std::vector<std::string>* lists[] = {&feeder_lines, &active, &report_lines};
    std::size_t shown[] = {feeder_lines.size(), active.size(), report_lines.size()};
    if (frame.screen_rows > 0) {
        const std::string above = out.str();
        const std::size_t header = static_cast<std::size_t>(std::count(above.begin(), above.end(), '\n'));
        // The list titles, the table's column line and the line the cursor rests on.
        const std::size_t titles = frame.show_reports ? 3 : 2;
        const std::size_t fixed = header + titles + (feeder_lines.empty() ? 0 : 1) + 1;
        std::size_t budget = frame.screen_rows > fixed ? frame.screen_rows - fixed : 0;
        std::fill(std::begin(shown), std::end(shown), 0);
        for (bool given = true; given && budget > 0;) {
            given = false;
            for (std::size_t i = 0; i < 3 && budget > 0; ++i) {
                if (shown[i] < lists[i]->size()) {
                    ++shown[i];
                    --budget;
                    given = true;
                }
            }
        }
    }
    // Lines of list `i`, the last of its room given to "... N more" when it is cut.
    auto print = [&](std::size_t i, const char* more) {
        const std::vector<std::string>& lines = *lists[i];
        const bool cut = shown[i] < lines.size();
        const std::size_t items = cut && shown[i] > 0 ? shown[i] - 1 : shown[i];
        for (std::size_t k = 0; k < items; ++k) out << lines[k] << "\n";
        if (cut && shown[i] > 0) out << "  ... " << lines.size() - items << more << "\n";
    };

    out << "Feeders: " << table.abnormal << " not normal, " << table.rows.size() - table.abnormal
        << " carrying current, " << table.idle << " idle\n";
    if (!feeder_lines.empty()) out << "  No  Voltage  Current    Power   Load%  Switch  Alarms\n";
    print(0, " more feeders (a taller window shows them)");
    out << "Active alarms: " << active.size() << "\n";
    print(1, " more alarms");
    if (frame.show_reports) {
        out << "Reports this round: " << frame.reports.size() << "\n";
        print(2, " more reports");
    }
    return without_trailing_blanks(out.str());
}

std::vector<std::string> active_alarms(const Json::Value& snapshot) {
    std::vector<std::string> names;
    if (!snapshot.isObject()) return names;
    for (const auto& signal : px46tr_k::snapshot_signals()) {
        if (signal.coding == Coding::number || signal.coding == Coding::time_text) continue;
        const Json::Value* value = snapshot.find(signal.name.data(), signal.name.data() + signal.name.size());
        if (value != nullptr && value->isString() && value->asString() == px46tr_k::kAlarm) {
            names.emplace_back(signal.name);
        }
    }
    return names;
}
