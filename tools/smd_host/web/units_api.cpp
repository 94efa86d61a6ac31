#include "units_api.h"

#include <json/value.h>
#include <json/writer.h>

#include "live_view.h"
#include "request_routing.h"
#include "user_input/parse_number.h"

namespace {

constexpr char kUnitsPath[] = "/api/units";
constexpr char kUnitsPrefix[] = "/api/units/";
constexpr char kSnapshotSuffix[] = "/snapshot";

std::string compact(const Json::Value& value) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;  // member names stay readable
    return Json::writeString(builder, value);
}

WebReply json_reply(std::string body) {
    return WebReply{200, "application/json; charset=utf-8", std::move(body)};
}

// The reply for "/api/units/<data_id>/snapshot"; none for any other path under /api/units/.
std::optional<WebReply> snapshot_reply(const SiteStatus& status, const std::string& path) {
    const std::string tail = path.substr(sizeof kUnitsPrefix - 1);
    const std::size_t suffix = sizeof kSnapshotSuffix - 1;
    if (tail.size() <= suffix || tail.compare(tail.size() - suffix, suffix, kSnapshotSuffix) != 0)
        return std::nullopt;
    const std::string id = tail.substr(0, tail.size() - suffix);
    const auto data_id = parse_decimal(id, 4294967295L);
    if (!data_id) return std::nullopt;
    const auto unit = status.unit_with_data_id(static_cast<unsigned int>(*data_id));
    if (!unit) return text_reply(404, "no unit with data id " + id);
    const auto text = status.unit(*unit).snapshot;
    if (!text)
        return text_reply(404, "no snapshot of data id " + id + " yet: its first round has not completed");
    return json_reply(*text);
}

}  // namespace

std::string units_json(const SiteStatus& status, std::chrono::system_clock::time_point now) {
    const std::vector<UnitStatus> units = status.units();
    const std::vector<LineStatus> lines = status.lines();
    Json::Value list(Json::arrayValue);
    for (std::size_t i = 0; i < units.size(); ++i) {
        const UnitStatus& unit = units[i];
        Json::Value item(Json::objectValue);
        item["line"] = unit.line < lines.size() ? lines[unit.line].name : std::string();
        item["unit"] = unit.unit;
        item["data_id"] = unit.data_id;
        item["name"] = unit.name;
        item["state"] = round_state_name(unit.state);
        item["data_age_seconds"] =
            unit.data_time ? Json::Value(std::chrono::duration<double>(now - *unit.data_time).count())
                           : Json::Value();
        Json::Value names(Json::arrayValue);
        if (const auto tree = status.snapshot_tree(i)) {
            for (const std::string& name : active_alarms(*tree)) names.append(name);
        }
        item["active_alarms"] = names.size();
        item["active_alarm_names"] = std::move(names);
        item["rounds_completed"] = Json::UInt64(unit.rounds_completed);
        item["rounds_failed"] = Json::UInt64(unit.rounds_failed);
        item["last_error"] = unit.last_error;
        list.append(std::move(item));
    }
    return compact(list);
}

WebHandler units_api_handler(const SiteStatus& status) {
    return [&status](const std::string& path) -> std::optional<WebReply> {
        if (path == kUnitsPath) return json_reply(units_json(status, std::chrono::system_clock::now()));
        if (path.compare(0, sizeof kUnitsPrefix - 1, kUnitsPrefix) == 0) return snapshot_reply(status, path);
        return std::nullopt;
    };
}
