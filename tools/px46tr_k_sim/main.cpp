// px46tr_k-sim: the monitoring unit on a real Modbus line, for trying the driver without a unit.
// Serves the unit's register map over Modbus TCP or RTU from a scenario until interrupted, as one
// unit id or as several sharing the line, each with its own registers and faults.
#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <json/writer.h>
#include <boost/program_options.hpp>

#include "catalogue/register_map.h"
#include "unit_sim/scenario.h"
#include "unit_sim/unit_server.h"
#include "user_input/id_list.h"
#include "user_input/parse_number.h"
#include "user_input/serial_device.h"

namespace po = boost::program_options;
using namespace unit_sim;

namespace {

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// "A[:B]" as two numbers, B defaulting to `second`.
std::pair<int, int> number_pair(const std::string& text, int second, const char* what) {
    constexpr long kMax = std::numeric_limits<int>::max();
    const auto colon = text.find(':');
    const auto first = parse_decimal(std::string_view(text).substr(0, colon), kMax);
    const auto given = colon == std::string::npos
                           ? std::optional<long>(second)
                           : parse_decimal(std::string_view(text).substr(colon + 1), kMax);
    if (!first || !given) throw UsageError{std::string(what) + " '" + text + "' is not a pair of numbers"};
    return {static_cast<int>(*first), static_cast<int>(*given)};
}

// The fewest significant digits that give back every number of `value` exactly when read: 86.42,
// not 86.420000000000002, and never fewer than one of them needs.
int round_trip_digits(const Json::Value& value) {
    int digits = 1;
    if (value.isObject() || value.isArray()) {
        for (const auto& member : value) digits = std::max(digits, round_trip_digits(member));
    } else if (value.isDouble()) {
        const double number = value.asDouble();
        char text[32];
        for (; digits < 17; ++digits) {
            std::snprintf(text, sizeof text, "%.*g", digits, number);
            if (std::strtod(text, nullptr) == number) break;
        }
    }
    return digits;
}

std::string json_text(const Json::Value& value) {
    Json::StreamWriterBuilder builder;
    builder["emitUTF8"] = true;
    builder["indentation"] = "  ";
    builder["precision"] = round_trip_digits(value);
    builder["precisionType"] = "significant";
    return Json::writeString(builder, value) + "\n";
}

// The registers of the unit's map as {"REG": VALUE}: the runner's --registers format.
Json::Value mapped_registers(const RegisterImage& image) {
    Json::Value registers(Json::objectValue);
    for (const auto& row : px46tr_k::kRegisterMap) {
        for (int reg = row.first_register; reg < row.first_register + row.count; ++reg) {
            registers[std::to_string(reg)] = image.get(reg);
        }
    }
    return registers;
}

// "FAULT[@ID]": the fault's own text and the unit it is for (0: every request of the line).
std::pair<std::string, int> fault_for_unit(const std::string& text, const char* option) {
    const auto at = text.rfind('@');
    if (at == std::string::npos) return {text, 0};
    const auto unit = parse_decimal(std::string_view(text).substr(at + 1), 247);
    if (!unit || *unit < 1)
        throw UsageError{std::string(option) + " '" + text + "': the unit after @ is not 1 to 247"};
    return {text.substr(0, at), static_cast<int>(*unit)};
}

int count_of(const std::string& text, const char* option) {
    const auto count = parse_decimal(text, std::numeric_limits<int>::max());
    if (!count) throw UsageError{std::string(option) + " '" + text + "' is not a count"};
    return static_cast<int>(*count);
}

// The fault options as given, each "FAULT[@ID]" and repeatable.
struct FaultTexts {
    std::vector<std::string> delay, drop, exception, close;
};

// Applies the fault options to the line's faults or, after @ID, to that unit's.
void apply_faults(const FaultTexts& texts, Faults& line, std::map<int, UnitSetup>& units) {
    std::set<std::pair<std::string, int>> given;
    const auto target = [&](const std::string& text, const char* option) {
        const auto [fault, unit] = fault_for_unit(text, option);
        if (!given.emplace(option, unit).second) {
            throw UsageError{std::string(option) + " is given twice for " +
                             (unit == 0 ? std::string("the line") : "unit " + std::to_string(unit))};
        }
        if (unit == 0) return std::pair<std::string, Faults*>{fault, &line};
        const auto found = units.find(unit);
        if (found == units.end()) {
            throw UsageError{std::string(option) + " '" + text + "': unit " + std::to_string(unit) +
                             " is not served (--unit, --units)"};
        }
        return std::pair<std::string, Faults*>{fault, &found->second.faults};
    };
    for (const auto& text : texts.delay) {
        const auto [fault, f] = target(text, "--delay");
        std::tie(f->delay_ms, f->delay_every) = number_pair(fault, 1, "--delay");
    }
    for (const auto& text : texts.drop) {
        const auto [fault, f] = target(text, "--drop");
        f->drop_every = count_of(fault, "--drop");
    }
    for (const auto& text : texts.exception) {
        const auto [fault, f] = target(text, "--exception");
        std::tie(f->exception_every, f->exception_code) = number_pair(fault, 4, "--exception");
        if (f->exception_code < 1 || f->exception_code > 255)
            throw UsageError{"exception code from 1 to 255"};
    }
    for (const auto& text : texts.close) {
        const auto [fault, f] = target(text, "--close");
        f->close_every = count_of(fault, "--close");
    }
}

// "ID=FILE" of --unit-scenario.
std::pair<int, std::string> unit_scenario(const std::string& text) {
    const auto eq = text.find('=');
    const auto unit = parse_decimal(std::string_view(text).substr(0, eq), 247);
    if (eq == std::string::npos || !unit || *unit < 1 || eq + 1 == text.size()) {
        throw UsageError{"--unit-scenario '" + text + "' is not ID=FILE with ID from 1 to 247"};
    }
    return {static_cast<int>(*unit), text.substr(eq + 1)};
}

int run(int argc, char* argv[]) {
    std::string tcp, rtu, scenario_path, dump_path, unit_list;
    std::vector<std::string> unit_scenarios, dead_units;
    int unit = 1;
    bool drift = false, print_scenario = false;
    Faults faults;
    FaultTexts fault_texts;
    po::options_description described("Options");
    described.add_options()("help,h", "show the options")("version", "print the version")(
        "tcp", po::value(&tcp)->value_name("[HOST:]PORT"),
        "serve Modbus TCP (default 127.0.0.1:1502; port 0 picks a free one)")(
        "rtu", po::value(&rtu)->value_name("DEVICE[:BAUD[:PARITY]]"),
        "serve Modbus RTU on a serial device (9600, N)")(
        "unit", po::value(&unit)->value_name("N")->default_value(1),
        "unit address answered; on TCP also 0 and 255, the ids of a server addressed directly")(
        "units", po::value(&unit_list)->value_name("LIST"),
        "unit addresses answered, each with its own registers: ids and ranges, 1-8 or 1,3,5-7 (instead "
        "of --unit); on TCP 0 and 255 reach the lowest")(
        "scenario", po::value(&scenario_path)->value_name("FILE"),
        "JSON scenario file for every unit without its own (default: a live unit, its values differing "
        "from unit to unit)")("unit-scenario", po::value(&unit_scenarios)->value_name("ID=FILE"),
                              "JSON scenario file of unit ID (repeatable)")(
        "dead-unit", po::value(&dead_units)->value_name("ID"),
        "unit ID is served but never answers, as a unit switched off on the bus (repeatable)")(
        "print-scenario", po::bool_switch(&print_scenario),
        "print the default scenario (of --unit N's values) and exit")(
        "dump-registers", po::value(&dump_path)->value_name("FILE"),
        "write the scenario's registers (of --unit N) as {\"REG\": VALUE} to FILE and exit")(
        "drift", po::bool_switch(&drift), "measured values move every round, energies count up")(
        "delay", po::value(&fault_texts.delay)->value_name("MS[:EVERY][@ID]"),
        "delay every EVERYth reply (default every one) by MS")(
        "drop", po::value(&fault_texts.drop)->value_name("EVERY[@ID]"),
        "leave every EVERYth request unanswered")(
        "exception", po::value(&fault_texts.exception)->value_name("EVERY[:CODE][@ID]"),
        "answer every EVERYth request with exception CODE (4)")(
        "close", po::value(&fault_texts.close)->value_name("EVERY[@ID]"),
        "close the connection on every EVERYth request (TCP)")(
        "ready-after", po::value(&faults.ready_after_ms)->value_name("MS"),
        "ignore requests that come within MS of a connection opening, as a slow gateway does (TCP)")(
        "wrong-write-count", po::bool_switch(&faults.wrong_write_count),
        "confirm every write of multiple registers (16) with a count one more than written (the "
        "write is applied)");
    po::variables_map vm;
    try {
        po::store(po::command_line_parser(argc, argv).options(described).run(), vm);
        po::notify(vm);
    } catch (const po::error& e) {
        throw UsageError{e.what()};
    }
    if (vm.count("help")) {
        std::cout
            << "px46tr_k-sim: the px46tr_k monitoring unit on a Modbus line\n\n"
               "Fault options count the requests the line takes; with @ID, the requests to unit ID.\n\n";
        // One column wider than boost makes it, so that two spaces at least part even the longest
        // option from its description, as help2man needs to tell them apart for the manual page.
        described.print(std::cout, described.get_option_column_width() + 1);
        return 0;
    }
    if (vm.count("version")) {
        std::cout << "px46tr_k-sim " PX46_VERSION "\n";
        return 0;
    }
    if (unit < 1 || unit > 247) throw UsageError{"--unit must be from 1 to 247"};
    if (print_scenario) {
        std::cout << json_text(default_scenario(unit));
        return 0;
    }
    if (faults.ready_after_ms < 0) throw UsageError{"--ready-after takes milliseconds"};

    std::vector<int> ids{unit};
    if (!unit_list.empty()) {
        if (!vm["unit"].defaulted()) throw UsageError{"--unit and --units exclude each other"};
        try {
            ids = parse_id_list(unit_list, 1, 247);
        } catch (const std::invalid_argument& e) {
            throw UsageError{"--units '" + unit_list + "': " + e.what()};
        }
    }
    const Json::Value shared = scenario_path.empty() ? Json::Value() : read_scenario(scenario_path);
    if (!dump_path.empty()) {
        std::ofstream out(dump_path);
        out << json_text(
            mapped_registers(scenario_image(scenario_path.empty() ? default_scenario(unit) : shared)));
        if (!out) throw std::runtime_error("cannot write " + dump_path);
        return 0;
    }
    std::map<int, std::string> own_scenarios;
    for (const auto& text : unit_scenarios) {
        const auto [id, path] = unit_scenario(text);
        if (std::find(ids.begin(), ids.end(), id) == ids.end()) {
            throw UsageError{"--unit-scenario '" + text + "': unit " + std::to_string(id) +
                             " is not served (--unit, --units)"};
        }
        if (!own_scenarios.emplace(id, path).second) {
            throw UsageError{"--unit-scenario: unit " + std::to_string(id) + " is given two scenarios"};
        }
    }

    ServerOptions options;
    for (const int id : ids) {
        UnitSetup& setup = options.units[id];
        const auto own = own_scenarios.find(id);
        try {
            setup.image = scenario_image(own != own_scenarios.end() ? read_scenario(own->second)
                                         : scenario_path.empty()    ? default_scenario(id)
                                                                    : shared);
        } catch (const ScenarioError& e) {
            throw ScenarioError(ids.size() > 1 ? "unit " + std::to_string(id) + ": " + e.what() : e.what());
        }
    }
    for (const auto& text : dead_units) {
        const auto id = parse_decimal(text, 247);
        const auto found = id ? options.units.find(static_cast<int>(*id)) : options.units.end();
        if (found == options.units.end()) {
            throw UsageError{"--dead-unit '" + text + "' is not a unit served (--unit, --units)"};
        }
        found->second.dead = true;
    }
    apply_faults(fault_texts, faults, options.units);

    try {
        if (!rtu.empty() && !tcp.empty()) throw UsageError{"--tcp and --rtu exclude each other"};
        if (!rtu.empty()) {
            // The device's name may hold colons: the fields are read from the right.
            const auto [device, fields] = split_serial_device(rtu, 2);
            options.endpoint = parse_rtu_endpoint(fields.empty() ? "-" : "-:" + fields);
            options.endpoint.device = device;
            if (device.empty()) throw UsageError{"--rtu '" + rtu + "' names no serial device"};
            if (options.endpoint.baud == 0) options.endpoint.baud = 9600;
        } else {
            const std::string text = tcp.empty() ? "127.0.0.1:1502" : tcp;
            options.endpoint =
                parse_tcp_endpoint(text.find(':') == std::string::npos ? "127.0.0.1:" + text : text);
        }
    } catch (const std::invalid_argument& e) {
        throw UsageError{e.what()};
    }
    options.endpoint.unit = ids.front();
    options.drift = drift;
    options.faults = faults;

    // The server's threads leave SIGINT and SIGTERM to this one, which waits for them (even when
    // started in the background by a shell that ignores SIGINT there).
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    std::vector<int> dead;
    for (const auto& [id, setup] : options.units) {
        if (setup.dead) dead.push_back(id);
    }
    UnitServer server(options);
    const int port = server.start();
    if (options.endpoint.transport == ModbusEndpoint::Transport::tcp) options.endpoint.port = port;
    if (options.endpoint.host.empty()) options.endpoint.host = "127.0.0.1";
    std::string serving = options.endpoint.describe();
    if (ids.size() > 1) serving = serving.substr(0, serving.rfind(" unit ")) + " units " + id_list_text(ids);
    if (!dead.empty()) serving += " (dead " + id_list_text(dead) + ")";
    std::cout << "px46tr_k-sim: serving " << serving << std::endl;
    int received = 0;
    sigwait(&signals, &received);
    server.stop();
    std::cout << "px46tr_k-sim: stopped after " << server.requests_taken() << " requests";
    if (ids.size() > 1) {
        const char* separator = " (";
        for (const int id : ids) {
            std::cout << separator << "unit " << id << ": " << server.requests_taken(id);
            separator = ", ";
        }
        std::cout << ")";
    }
    std::cout << std::endl;
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    try {
        return run(argc, argv);
    } catch (const UsageError& e) {
        std::cerr << "px46tr_k-sim: " << e.what() << " (--help lists the options)\n";
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "px46tr_k-sim: " << e.what() << "\n";
        return 1;
    }
}
