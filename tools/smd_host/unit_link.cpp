#include "unit_link.h"

#include <stdexcept>

#include "host/modbus_link.h"
#include "number_parsing/serial_device.h"

UnitLink make_unit_link(const RunnerOptions& options, int device_baud) {
    UnitLink unit;
    const std::string& text = options.unit;
    if (text == "sim") {
        auto simulated = std::make_unique<SimulatedUnit>();
        for (const auto& [reg, value] : options.registers) simulated->set(reg, value);
        unit.simulated = simulated.get();
        unit.link = std::move(simulated);
        return unit;
    }
    if (!options.registers.empty() || !options.set_at.empty()) {
        throw UsageError{"--set, --set-at and --registers apply to --unit sim only"};
    }
    ModbusEndpoint endpoint;
    try {
        if (text.rfind("tcp:", 0) == 0) {
            endpoint = parse_tcp_endpoint(text.substr(4));
            unit.tcp = true;
        } else if (text.rfind("rtu:", 0) == 0) {
            // The device's name may hold colons: the fields are read from the right.
            const auto [device, fields] = split_serial_device(text.substr(4), 3);
            endpoint = parse_rtu_endpoint(fields.empty() ? "-" : "-:" + fields);
            endpoint.device = device;
            if (device.empty()) throw std::invalid_argument("'" + text + "' names no serial device");
            if (endpoint.baud == 0) endpoint.baud = device_baud;
        } else {
            throw std::invalid_argument(
                "'" + text + "' is not sim, tcp:HOST:PORT[:UNIT] or rtu:DEVICE[:BAUD[:PARITY[:UNIT]]]");
        }
    } catch (const std::invalid_argument& e) {
        throw UsageError{std::string("--unit: ") + e.what()};
    }
    LinkSettings settings;
    settings.response_timeout = options.timeout_seconds;
    settings.retries = options.retries;
    settings.pause = options.pause_seconds;
    auto link = std::make_unique<ModbusLink>(endpoint, settings);
    unit.counters = &link->counters();
    unit.link = std::move(link);
    return unit;
}
