// px46tr_k-sim: the monitoring unit on a real Modbus line, for trying the driver without a unit.
// Serves the unit's register map over Modbus TCP or RTU from a scenario until interrupted.
#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <limits>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>

#include <json/writer.h>
#include <boost/program_options.hpp>

#include "catalogue/register_map.h"
#include "unit_sim/scenario.h"
#include "unit_sim/unit_server.h"
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

int run(int argc, char* argv[]) {
    std::string tcp, rtu, scenario_path, dump_path, delay, exception;
    int unit = 1;
    bool drift = false, print_scenario = false;
    Faults faults;
    po::options_description described("Options");
    described.add_options()("help,h", "show the options")("version", "print the version")(
        "tcp", po::value(&tcp)->value_name("[HOST:]PORT"),
        "serve Modbus TCP (default 127.0.0.1:1502; port 0 picks a free one)")(
        "rtu", po::value(&rtu)->value_name("DEVICE[:BAUD[:PARITY]]"),
        "serve Modbus RTU on a serial device (9600, N)")(
        "unit", po::value(&unit)->value_name("N")->default_value(1),
        "unit address answered; on TCP also 0 and 255, the ids of a server addressed directly")(
        "scenario", po::value(&scenario_path)->value_name("FILE"),
        "JSON scenario file (default: a live unit)")("print-scenario", po::bool_switch(&print_scenario),
                                                     "print the default scenario and exit")(
        "dump-registers", po::value(&dump_path)->value_name("FILE"),
        "write the scenario's registers as {\"REG\": VALUE} to FILE and exit")(
        "drift", po::bool_switch(&drift), "measured values move every round, energies count up")(
        "delay", po::value(&delay)->value_name("MS[:EVERY]"),
        "delay every EVERYth reply (default every one) by MS")(
        "drop", po::value(&faults.drop_every)->value_name("EVERY"), "leave every EVERYth request unanswered")(
        "exception", po::value(&exception)->value_name("EVERY[:CODE]"),
        "answer every EVERYth request with exception CODE (4)")(
        "close", po::value(&faults.close_every)->value_name("EVERY"),
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
        std::cout << "px46tr_k-sim: the px46tr_k monitoring unit on a Modbus line\n\n";
        // One column wider than boost makes it, so that two spaces at least part even the longest
        // option from its description, as help2man needs to tell them apart for the manual page.
        described.print(std::cout, described.get_option_column_width() + 1);
        return 0;
    }
    if (vm.count("version")) {
        std::cout << "px46tr_k-sim " PX46_VERSION "\n";
        return 0;
    }
    if (print_scenario) {
        std::cout << json_text(default_scenario());
        return 0;
    }
    if (unit < 1 || unit > 247) throw UsageError{"--unit must be from 1 to 247"};
    if (!delay.empty()) std::tie(faults.delay_ms, faults.delay_every) = number_pair(delay, 1, "--delay");
    if (!exception.empty()) {
        std::tie(faults.exception_every, faults.exception_code) = number_pair(exception, 4, "--exception");
        if (faults.exception_code < 1 || faults.exception_code > 255)
            throw UsageError{"exception code from 1 to 255"};
    }
    if (faults.drop_every < 0 || faults.close_every < 0) throw UsageError{"--drop and --close take a count"};
    if (faults.ready_after_ms < 0) throw UsageError{"--ready-after takes milliseconds"};

    const RegisterImage image =
        scenario_image(scenario_path.empty() ? default_scenario() : read_scenario(scenario_path));
    if (!dump_path.empty()) {
        std::ofstream out(dump_path);
        out << json_text(mapped_registers(image));
        if (!out) throw std::runtime_error("cannot write " + dump_path);
        return 0;
    }

    ServerOptions options;
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
    options.endpoint.unit = unit;
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

    UnitServer server(image, options);
    const int port = server.start();
    if (options.endpoint.transport == ModbusEndpoint::Transport::tcp) options.endpoint.port = port;
    if (options.endpoint.host.empty()) options.endpoint.host = "127.0.0.1";
    std::cout << "px46tr_k-sim: serving " << options.endpoint.describe() << std::endl;
    int received = 0;
    sigwait(&signals, &received);
    server.stop();
    std::cout << "px46tr_k-sim: stopped after " << server.requests_taken() << " requests" << std::endl;
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
