#include "unit_sim/scenario.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>
#include <unordered_map>

#include "catalogue/signal_catalogue.h"
#include "user_input/json_file.h"
#include "user_input/nearest_names.h"
#include "user_input/parse_number.h"

namespace unit_sim {

using px46tr_k::Coding;
using px46tr_k::SignalSource;

namespace {

template <typename Info>
std::unordered_map<std::string, const Info*> index_by_name(const std::vector<Info>& infos) {
    std::unordered_map<std::string, const Info*> index;
    for (const Info& info : infos) index.emplace(info.name, &info);
    return index;
}

const px46tr_k::SignalInfo* find_signal(const std::string& name) {
    static const auto index = index_by_name(px46tr_k::snapshot_signals());
    const auto found = index.find(name);
    return found == index.end() ? nullptr : found->second;
}

const px46tr_k::AlarmInfo* find_alarm(const std::string& name) {
    static const auto index = index_by_name(px46tr_k::reportable_alarms());
    const auto found = index.find(name);
    return found == index.end() ? nullptr : found->second;
}

// The nearest names of a misspelt signal or alarm among `entries` (catalogue entries with a name),
// as the runner's configuration check gives them.
template <typename Entries>
NearestNames nearest_among(const Entries& entries) {
    std::vector<std::string> all;
    for (const auto& e : entries) all.push_back(e.name);
    return NearestNames(std::move(all));
}

const NearestNames& nearest_signals() {
    static const NearestNames names = nearest_among(px46tr_k::snapshot_signals());
    return names;
}

const NearestNames& nearest_alarms() {
    static const NearestNames names = nearest_among(px46tr_k::reportable_alarms());
    return names;
}

[[noreturn]] void fail(const std::string& what, const std::string& why) {
    throw ScenarioError(what + ": " + why);
}

int parse_register(const std::string& text) {
    const auto reg = parse_decimal_or_hex(text, kRegisterCount - 1);
    if (!reg)
        fail("register \"" + text + "\"", "not a register from 0 to " + std::to_string(kRegisterCount - 1));
    return static_cast<int>(*reg);
}

// The integer that a scaled engineering value is stored as.
std::int64_t raw_of_number(const std::string& name, const Json::Value& value, double scale) {
    if (!value.isNumeric()) fail(name, "needs a number");
    const double raw = std::round(value.asDouble() * scale);
    if (!std::isfinite(raw) || std::fabs(raw) > 4e18) fail(name, "value out of range");
    return static_cast<std::int64_t>(raw);
}

// The code of a coded state given as its status word, its code or a boolean (flags).
std::uint16_t code_of(const std::string& name, Coding coding, const Json::Value& value) {
    if (value.isBool()) return value.asBool() ? 1 : 0;
    if (value.isIntegral() && value.asInt64() >= 0 && value.asInt64() <= 0xffff) {
        return static_cast<std::uint16_t>(value.asInt64());
    }
    if (value.isString()) {
        for (unsigned int code = 0; code <= 16; ++code) {
            if (value.asString() == px46tr_k::status_word(coding, code)) {
                return static_cast<std::uint16_t>(code);
            }
        }
    }
    fail(name, "needs a status word of its coding, a code from 0 to 65535 or a boolean");
}

void set_flag(RegisterImage& image, const SignalSource& source, bool active) {
    const auto mask = static_cast<std::uint16_t>(1u << source.bit);
    const std::uint16_t reg = image.get(source.first_register);
    image.set(source.first_register, static_cast<std::uint16_t>(active ? reg | mask : reg & ~mask));
}

void set_signal(RegisterImage& image, const px46tr_k::SignalInfo& info, const Json::Value& value) {
    const SignalSource& source = info.source;
    const double scale = static_cast<double>(info.divisor) * static_cast<double>(info.second_divisor);
    switch (source.kind) {
        case SignalSource::Kind::register_pair: {
            const std::int64_t raw = raw_of_number(info.name, value, scale);
            if (raw < std::numeric_limits<std::int32_t>::min() ||
                raw > std::numeric_limits<std::int32_t>::max()) {
                fail(info.name, "does not fit its signed 32-bit registers");
            }
            image.set_s32(source.first_register, static_cast<std::int32_t>(raw));
            return;
        }
        case SignalSource::Kind::register16: {
            if (info.coding != Coding::number) {
                image.set(source.first_register, code_of(info.name, info.coding, value));
                return;
            }
            const std::int64_t raw = raw_of_number(info.name, value, scale);
            if (raw < 0 || raw > 0xffff) fail(info.name, "does not fit its unsigned 16-bit register");
            image.set(source.first_register, static_cast<std::uint16_t>(raw));
            return;
        }
        case SignalSource::Kind::flag:
            set_flag(image, source, code_of(info.name, Coding::flag, value) != 0);
            return;
        case SignalSource::Kind::none:
            fail(info.name, "not held in any register of the unit");
        case SignalSource::Kind::round_stamp:
            fail(info.name, "the poller's own time stamp, not a register");
    }
}

void set_alarm(RegisterImage& image, const std::string& name, bool active) {
    const px46tr_k::AlarmInfo* alarm = find_alarm(name);
    if (alarm == nullptr) fail("alarm \"" + name + "\"", "no such alarm" + nearest_alarms().hint(name));
    // An alarm is the state of its snapshot member: code 1 when active, 0 when not.
    set_signal(image, alarm->signal, Json::Value(active));
}

const Json::Value& member(const Json::Value& scenario, const char* name) {
    const Json::Value& value = scenario[name];
    if (!value.isNull() && !value.isObject() && !(value.isArray() && std::string(name) == "alarms")) {
        fail(std::string("\"") + name + "\"", "has the wrong shape");
    }
    return value;
}

// `value` to the nearest 1/per_unit, as the double nearest that decimal (a division of whole
// numbers), so that it prints as the short decimal it is.
double round_to(double value, int per_unit) { return std::round(value * per_unit) / per_unit; }

}  // namespace

void apply_scenario(const Json::Value& scenario, RegisterImage& image) {
    if (!scenario.isObject()) throw ScenarioError("a scenario is a JSON object");
    for (const auto& key : scenario.getMemberNames()) {
        if (key != "registers" && key != "signals" && key != "alarms" && key != "comment") {
            fail("\"" + key + "\"", "not a member of a scenario");
        }
    }
    const Json::Value& registers = member(scenario, "registers");
    for (const auto& key : registers.getMemberNames()) {
        const Json::Value& value = registers[key];
        if (!value.isIntegral() || value.asInt64() < 0 || value.asInt64() > 0xffff) {
            fail("register \"" + key + "\"", "needs an integer from 0 to 65535");
        }
        image.set(parse_register(key), static_cast<std::uint16_t>(value.asInt64()));
    }
    const Json::Value& signals = member(scenario, "signals");
    for (const auto& name : signals.getMemberNames()) {
        const px46tr_k::SignalInfo* info = find_signal(name);
        if (info == nullptr) fail("signal \"" + name + "\"", "no such signal" + nearest_signals().hint(name));
        set_signal(image, *info, signals[name]);
    }
    const Json::Value& alarms = member(scenario, "alarms");
    if (alarms.isArray()) {
        for (const auto& name : alarms) {
            if (!name.isString()) fail("\"alarms\"", "lists names");
            set_alarm(image, name.asString(), true);
        }
    } else {
        for (const auto& name : alarms.getMemberNames()) {
            if (!alarms[name].isBool()) fail("alarm \"" + name + "\"", "needs true or false");
            set_alarm(image, name, alarms[name].asBool());
        }
    }
}

RegisterImage scenario_image(const Json::Value& scenario) {
    RegisterImage image;
    apply_scenario(scenario, image);
    return image;
}

Json::Value read_scenario(const std::string& path) {
    try {
        return read_json_object_file(path, "scenario file");
    } catch (const JsonFileError& e) {
        throw ScenarioError(e.what());
    }
}

Json::Value default_scenario(int unit) {
    namespace field = px46tr_k;
    // Unit 1 is the reference; each further unit moves every measurement a little, so that the
    // units of one line hold different values.
    const int d = std::max(unit, 1) - 1;
    Json::Value scenario(Json::objectValue);
    scenario["comment"] = "a live unit: both lines near 230 V, loaded feeders, three switches opened";
    Json::Value& signals = scenario["signals"];

    for (const auto& system : px46tr_k::kSystemSignals) {
        double value = 0;
        switch (px46tr_k::register_at(system.record_offset)) {
            case 0:  // hardware code
                value = 4601;
                break;
            case 1:  // software version
                value = 106;
                break;
            case 2:  // serial number, first part
                value = 2023;
                break;
            case 3:  // serial number, second part: one a unit
                value = 1187 + d;
                break;
        }
        signals[system.name] = value;
    }

    struct LineValues {
        double voltage, current, energy;
    };
    const LineValues lines[] = {{229.87, 86.42, 15234.5}, {230.41, 78.95, 14887.2}};
    for (std::size_t l = 0; l < std::size(px46tr_k::kInlineLines); ++l) {
        const LineValues& base = lines[l % std::size(lines)];
        const LineValues v{round_to(base.voltage + d * 37 % 150 / 100.0, 100),
                           round_to(base.current + d * 53 % 400 / 100.0, 100),
                           round_to(base.energy + d * 100.5, 10)};
        for (const auto& m : px46tr_k::kInlineMeasurements) {
            double value = 0;
            switch (m.field_offset) {
                case field::inline_field::kVoltage:
                    value = v.voltage;
                    break;
                case field::inline_field::kCurrent:
                    value = v.current;
                    break;
                case field::inline_field::kPower:
                    value = round_to(v.voltage * v.current * 0.93 / 1000, 1000);
                    break;
                case field::inline_field::kEnergy:
                    value = v.energy;
                    break;
                case field::inline_field::kLoadRatio:
                    value = round_to(v.current / 160 * 100, 100);
                    break;
            }
            signals[px46tr_k::compose_name(m.format, "", px46tr_k::kInlineLines[l].letter)] = value;
        }
    }

    const int opened[] = {7, 45, 98};
    const int first_idle = 127;  // feeders 127 to 144 are not wired
    for (int n = 1; n <= px46tr_k::kFeederCount; ++n) {
        const bool is_opened = std::find(std::begin(opened), std::end(opened), n) != std::end(opened);
        const bool live = !is_opened && n < first_idle;
        const double voltage = live ? (22950 + (n + d) * 37 % 100) / 100.0 : 0;
        const double current = live ? (15 + (n + d) * 53 % 90) / 10.0 : 0;
        for (const auto& m : px46tr_k::kFeederMeasurements) {
            double value = 0;
            switch (m.field_offset) {
                case field::feeder_field::kVoltage:
                    value = voltage;
                    break;
                case field::feeder_field::kCurrent:
                    value = current;
                    break;
                case field::feeder_field::kPower:
                    value = round_to(voltage * current * 0.95 / 1000, 100);
                    break;
                case field::feeder_field::kEnergy:
                    value = n < first_idle ? 1000 + n * 137.25 + d * 500 : 0;
                    break;
                case field::feeder_field::kLoadRatio:
                    value = round_to(current / 16 * 100, 100);
                    break;
            }
            signals[px46tr_k::compose_name(m.format, "", px46tr_k::feeder_name(n).c_str())] = value;
        }
        const char* state = is_opened        ? px46tr_k::kOpened
                            : n < first_idle ? px46tr_k::kNormal
                                             : px46tr_k::kIdle;
        signals[px46tr_k::compose_name(px46tr_k::kFeederSwitchStateFormat, "", n)] = state;
        if (is_opened) {
            signals[px46tr_k::compose_name(px46tr_k::kFeederSwitchOpen.format, px46tr_k::kFeederPrefix, n)] =
                true;
        }
    }
    for (const auto& ambient : px46tr_k::kAmbientSignals) {
        const int reg = px46tr_k::register_at(ambient.record_offset);
        signals[ambient.name] = reg == px46tr_k::kAmbientTemperatureRegister ? 24.5 + d % 10 * 0.5
                                : reg == px46tr_k::kAmbientHumidityRegister  ? 46.0 + d % 20
                                                                             : 0;
    }
    return scenario;
}

}  // namespace unit_sim
