#include "page_data.h"

#include <cmath>
#include <memory>
#include <sstream>

#include <json/writer.h>

#include "catalogue/signal_catalogue.h"
#include "feeder_table.h"
#include "live_view.h"

namespace {

std::int64_t epoch_ms(std::chrono::system_clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

// The fields of a line the page shows, by the page's name.
struct LineField {
    const char* key;
    std::size_t field;  // px46tr_k::inline_field
};
constexpr LineField kLineFields[] = {
    {"voltage", px46tr_k::inline_field::kVoltage},      {"current", px46tr_k::inline_field::kCurrent},
    {"power", px46tr_k::inline_field::kPower},          {"energy", px46tr_k::inline_field::kEnergy},
    {"load_ratio", px46tr_k::inline_field::kLoadRatio},
};

Json::Value member(const Json::Value& snapshot, const std::string& name) {
    if (!snapshot.isObject()) return Json::Value();
    const Json::Value* value = snapshot.find(name.data(), name.data() + name.size());
    return value != nullptr ? *value : Json::Value();
}

}  // namespace

Json::Value unit_view_data(const UnitStatus& status, const Json::Value& snapshot,
                           std::chrono::system_clock::time_point now) {
    Json::Value view(Json::objectValue);
    view["data_id"] = static_cast<Json::UInt>(static_cast<unsigned int>(status.data_id));
    view["name"] = status.name;
    view["line"] = static_cast<Json::UInt64>(status.line + 1);
    view["unit"] = status.unit;
    view["state"] = round_state_name(status.state);
    view["data_age_seconds"] =
        status.data_time
            ? Json::Value(std::round(std::chrono::duration<double>(now - *status.data_time).count() * 10) /
                          10)
            : Json::Value();
    view["last_error"] = status.last_error;
    view["has_snapshot"] = snapshot.isObject();
    view["update_time"] = member(snapshot, px46tr_k::kUpdateTime);

    Json::Value& lines = view["lines"] = Json::Value(Json::arrayValue);
    for (const auto& line : px46tr_k::kInlineLines) {
        Json::Value row(Json::objectValue);
        row["line"] = line.letter;
        for (const LineField& f : kLineFields) {
            const auto* m = px46tr_k::inline_measurement(f.field);
            row[f.key] = m == nullptr ? Json::Value()
                                      : member(snapshot, px46tr_k::compose_name(m->format, "", line.letter));
        }
        lines.append(row);
    }
    Json::Value& ambient = view["ambient"] = Json::Value(Json::objectValue);
    const auto ambient_member = [&](int reg) {
        const auto* a = px46tr_k::fixed_signal_at(px46tr_k::kAmbientSignals, reg);
        return a == nullptr ? Json::Value() : member(snapshot, a->name);
    };
    ambient["temperature"] = ambient_member(px46tr_k::kAmbientTemperatureRegister);
    ambient["humidity"] = ambient_member(px46tr_k::kAmbientHumidityRegister);

    const FeederTable table = feeder_table(snapshot);
    Json::Value& feeders = view["feeders"] = Json::Value(Json::objectValue);
    feeders["not_normal"] = static_cast<Json::UInt64>(table.abnormal);
    feeders["carrying_current"] = static_cast<Json::UInt64>(table.rows.size() - table.abnormal);
    feeders["idle"] = static_cast<Json::UInt64>(table.idle);
    Json::Value& rows = feeders["rows"] = Json::Value(Json::arrayValue);
    for (const FeederRow& feeder : table.rows) {
        Json::Value row(Json::objectValue);
        row["feeder"] = feeder.n;
        row["voltage"] = feeder.voltage;
        row["current"] = feeder.current;
        row["power"] = feeder.power;
        row["load_ratio"] = feeder.load_ratio;
        row["switch"] = feeder.state;
        row["normal"] = !feeder.abnormal;
        Json::Value& alarms = row["alarms"] = Json::Value(Json::arrayValue);
        for (const auto& alarm : feeder.alarms) alarms.append(alarm);
        rows.append(row);
    }
    Json::Value& alarms = view["alarms"] = Json::Value(Json::arrayValue);
    for (const auto& name : active_alarms(snapshot)) alarms.append(name);
    return view;
}

Json::Value trend_data(const TrendRing& ring, std::chrono::system_clock::time_point now) {
    const std::vector<TrendPoint> points = ring.points();
    Json::Value trend(Json::objectValue);
    trend["now_ms"] = static_cast<Json::Int64>(epoch_ms(now));
    trend["spacing_seconds"] = static_cast<double>(ring.spacing().count()) / 1000;
    trend["capacity"] = static_cast<Json::UInt64>(ring.capacity());
    Json::Value& series = trend["series"] = Json::Value(Json::arrayValue);
    Json::Value& values = trend["values"] = Json::Value(Json::objectValue);
    for (std::size_t i = 0; i < kTrendSeriesCount; ++i) {
        const TrendSeries& s = trend_series()[i];
        Json::Value one(Json::objectValue);
        one["key"] = s.key;
        one["quantity"] = s.quantity;
        one["member"] = s.member;
        series.append(one);
        Json::Value& column = values[s.key] = Json::Value(Json::arrayValue);
        for (const TrendPoint& p : points)
            column.append(std::isnan(p.values[i]) ? Json::Value() : Json::Value(p.values[i]));
    }
    Json::Value& times = trend["time_ms"] = Json::Value(Json::arrayValue);
    for (const TrendPoint& p : points) times.append(static_cast<Json::Int64>(p.time_ms));
    return trend;
}

std::string json_text(const Json::Value& value) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;
    return Json::writeString(builder, value);
}
