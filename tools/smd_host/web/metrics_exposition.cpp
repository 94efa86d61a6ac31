#include "metrics_exposition.h"

#include <charconv>
#include <cmath>
#include <memory>
#include <vector>

#include <json/value.h>

#include "catalogue/signal_catalogue.h"

namespace {

using px46tr_k::Coding;

constexpr char kContentType[] = "text/plain; version=0.0.4; charset=utf-8";

// A sample value: the shortest text that reads back as the same double.
std::string sample_value(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
    char text[32];
    const auto result = std::to_chars(std::begin(text), std::end(text), value);
    return std::string(text, result.ptr);
}

void family(std::string& out, const char* name, const char* type, const char* help) {
    out.append("# HELP ").append(name).append(" ").append(help).append("\n");
    out.append("# TYPE ").append(name).append(" ").append(type).append("\n");
}

// What the exposition needs of one unit, taken once.
struct UnitView {
    UnitStatus status;
    std::string labels;  // line="...",unit="...",data_id="..."
    std::shared_ptr<const Json::Value> snapshot;
};

void sample(std::string& out, const std::string& name, const std::string& labels, const std::string& value) {
    out.append(name).append("{").append(labels).append("} ").append(value).append("\n");
}

std::string label(const char* name, const std::string& value) {
    return std::string(",") + name + "=\"" + escape_label_value(value) + "\"";
}

// The snapshot member `name` of a unit, or null when its snapshot has none.
const Json::Value* member(const UnitView& unit, const std::string& name) {
    return unit.snapshot ? unit.snapshot->find(name.data(), name.data() + name.size()) : nullptr;
}

void snapshot_families(std::string& out, const std::vector<UnitView>& units) {
    const auto& signals = px46tr_k::snapshot_signals();
    family(out, "px46tr_k_signal", "gauge",
           "A numeric member of the unit's snapshot after its last completed round.");
    for (const UnitView& unit : units) {
        for (const auto& signal : signals) {
            if (signal.coding != Coding::number) continue;
            const Json::Value* value = member(unit, signal.name);
            if (value == nullptr || !value->isNumeric()) continue;
            sample(out, "px46tr_k_signal", unit.labels + label("signal", signal.name),
                   sample_value(value->asDouble()));
        }
    }
    family(out, "px46tr_k_alarm_active", "gauge",
           "1 while the coded snapshot member (an alarm or a state) reads alarm, else 0.");
    for (const UnitView& unit : units) {
        for (const auto& signal : signals) {
            if (signal.coding == Coding::number || signal.coding == Coding::time_text) continue;
            const Json::Value* value = member(unit, signal.name);
            if (value == nullptr || !value->isString()) continue;
            sample(out, "px46tr_k_alarm_active", unit.labels + label("alarm", signal.name),
                   value->asString() == px46tr_k::kAlarm ? "1" : "0");
        }
    }
}

void round_families(std::string& out, const std::vector<UnitView>& units,
                    std::chrono::system_clock::time_point now) {
    family(out, "px46tr_k_rounds_total", "counter", "Polling rounds of the unit, by how they ended.");
    for (const UnitView& unit : units) {
        sample(out, "px46tr_k_rounds_total", unit.labels + label("result", "completed"),
               std::to_string(unit.status.rounds_completed));
        sample(out, "px46tr_k_rounds_total", unit.labels + label("result", "failed"),
               std::to_string(unit.status.rounds_failed));
    }
    family(out, "px46tr_k_round_duration_seconds", "histogram", "Duration of the unit's polling rounds.");
    for (const UnitView& unit : units) {
        std::uint64_t cumulative = 0;
        for (std::size_t b = 0; b < kRoundDurationBuckets; ++b) {
            cumulative += unit.status.round_seconds_buckets[b];
            const std::string le =
                b < std::size(kRoundDurationBounds) ? sample_value(kRoundDurationBounds[b]) : "+Inf";
            sample(out, "px46tr_k_round_duration_seconds_bucket", unit.labels + label("le", le),
                   std::to_string(cumulative));
        }
        sample(out, "px46tr_k_round_duration_seconds_sum", unit.labels,
               sample_value(unit.status.round_seconds_sum));
        sample(out, "px46tr_k_round_duration_seconds_count", unit.labels, std::to_string(cumulative));
    }
    family(out, "px46tr_k_data_age_seconds", "gauge",
           "Seconds since the unit's last completed round (absent before its first).");
    for (const UnitView& unit : units) {
        if (!unit.status.data_time) continue;
        sample(out, "px46tr_k_data_age_seconds", unit.labels,
               sample_value(std::chrono::duration<double>(now - *unit.status.data_time).count()));
    }
}

void link_families(std::string& out, const std::vector<LineStatus>& lines) {
    const struct {
        const char* name;
        const char* help;
        std::uint64_t LinkCounters::*count;
    } counters[] = {
        {"px46tr_k_link_requests_total", "Requests handed to the line.", &LinkCounters::requests},
        {"px46tr_k_link_failures_total", "Requests that finally failed on the line.",
         &LinkCounters::failures},
        {"px46tr_k_link_retries_total", "Attempts beyond a request's first.", &LinkCounters::retries},
        {"px46tr_k_link_busy_retries_total", "Attempts after a unit answered busy.",
         &LinkCounters::busy_retries},
        {"px46tr_k_link_reconnects_total", "Connections made again after the first.",
         &LinkCounters::reconnects},
    };
    for (const auto& counter : counters) {
        family(out, counter.name, "counter", counter.help);
        for (const LineStatus& line : lines) {
            sample(out, counter.name, "line=\"" + escape_label_value(line.name) + "\"",
                   std::to_string(line.counters.*counter.count));
        }
    }
}

}  // namespace

std::string escape_label_value(const std::string& value) {
    std::string escaped;
    escaped.reserve(value.size());
    for (const char c : value) {
        if (c == '\\') {
            escaped += "\\\\";
        } else if (c == '"') {
            escaped += "\\\"";
        } else if (c == '\n') {
            escaped += "\\n";
        } else {
            escaped += c;
        }
    }
    return escaped;
}

std::string metrics_text(const SiteStatus& status, std::chrono::system_clock::time_point now) {
    const std::vector<LineStatus> lines = status.lines();
    std::vector<UnitView> units;
    const std::vector<UnitStatus> statuses = status.units();
    for (std::size_t i = 0; i < statuses.size(); ++i) {
        const UnitStatus& unit = statuses[i];
        std::string labels =
            "line=\"" + escape_label_value(unit.line < lines.size() ? lines[unit.line].name : "") + "\"" +
            label("unit", std::to_string(unit.unit)) + label("data_id", std::to_string(unit.data_id));
        units.push_back(UnitView{unit, std::move(labels), status.snapshot_tree(i)});
    }
    std::string out;
    snapshot_families(out, units);
    round_families(out, units, now);
    link_families(out, lines);
    return out;
}

WebHandler metrics_handler(const SiteStatus& status) {
    return [&status](const std::string& path) -> std::optional<WebReply> {
        if (path != "/metrics") return std::nullopt;
        return WebReply{200, kContentType, metrics_text(status, std::chrono::system_clock::now())};
    };
}
