#include "link_text.h"

#include <algorithm>
#include <stdexcept>

#include "user_input/serial_device.h"

std::optional<ModbusEndpoint> parse_link_text(const std::string& text, bool* names_unit) {
    if (text == "sim") {
        if (names_unit != nullptr) *names_unit = false;
        return std::nullopt;
    }
    if (text.rfind("tcp:", 0) == 0) {
        const ModbusEndpoint endpoint = parse_tcp_endpoint(text.substr(4));
        if (names_unit != nullptr) *names_unit = std::count(text.begin() + 4, text.end(), ':') == 2;
        return endpoint;
    }
    if (text.rfind("rtu:", 0) == 0) {
        // The device's name may hold colons: the fields are read from the right.
        const auto [device, fields] = split_serial_device(text.substr(4), 3);
        ModbusEndpoint endpoint = parse_rtu_endpoint(fields.empty() ? "-" : "-:" + fields);
        endpoint.device = device;
        if (device.empty()) throw std::invalid_argument("'" + text + "' names no serial device");
        if (names_unit != nullptr) {
            const auto last = fields.rfind(':');
            *names_unit = std::count(fields.begin(), fields.end(), ':') == 2 && last + 1 < fields.size();
        }
        return endpoint;
    }
    throw std::invalid_argument("'" + text +
                                "' is not sim, tcp:HOST:PORT[:UNIT] or rtu:DEVICE[:BAUD[:PARITY[:UNIT]]]");
}
