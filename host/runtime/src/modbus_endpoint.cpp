#include "host_runtime/modbus_endpoint.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <stdexcept>
#include <vector>

namespace {

std::vector<std::string> split(const std::string& text) {
    std::vector<std::string> parts;
    std::size_t begin = 0;
    for (;;) {
        const std::size_t colon = text.find(':', begin);
        parts.push_back(text.substr(begin, colon - begin));
        if (colon == std::string::npos) return parts;
        begin = colon + 1;
    }
}

int parse_int(const std::string& text, int low, int high, const char* what) {
    char* end = nullptr;
    const long value = text.empty() ? -1 : std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < low || value > high) {
        throw std::invalid_argument(std::string(what) + " '" + text + "' is not a number from " +
                                    std::to_string(low) + " to " + std::to_string(high));
    }
    return static_cast<int>(value);
}

// A serial line's unit address: 0 is the broadcast address and 248 to 255 are reserved.
int parse_rtu_unit(const std::string& text) { return parse_int(text, 1, 247, "unit address"); }

// Modbus TCP carries the unit identifier as a whole byte: a gateway forwards 1 to 247 to its serial
// units and a server addressed directly commonly answers 0 or 255.
int parse_tcp_unit(const std::string& text) { return parse_int(text, 0, 255, "unit id"); }

char parse_parity_letter(char letter, const std::string& field) {
    const char parity = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
    if (parity != 'N' && parity != 'E' && parity != 'O') {
        throw std::invalid_argument("parity '" + std::string(1, letter) + "' in '" + field +
                                    "' is not N, E or O");
    }
    return parity;
}

// The line's framing: the parity letter alone (8 data bits, 1 stop bit), or data bits, parity and
// stop bits together as serial settings are usually written ("8N1", "7E1", "8N2").
void parse_framing(const std::string& field, ModbusEndpoint& endpoint) {
    if (field.size() == 1) {
        endpoint.parity = parse_parity_letter(field[0], field);
        return;
    }
    if (field.size() != 3) {
        throw std::invalid_argument("parity '" + field +
                                    "' is not N, E or O, nor data bits, parity and "
                                    "stop bits such as 8N1");
    }
    if (field[0] < '5' || field[0] > '8') {
        throw std::invalid_argument("data bits '" + field.substr(0, 1) + "' in '" + field +
                                    "' are not 5 to 8");
    }
    if (field[2] != '1' && field[2] != '2') {
        throw std::invalid_argument("stop bits '" + field.substr(2) + "' in '" + field + "' are not 1 or 2");
    }
    endpoint.parity = parse_parity_letter(field[1], field);
    endpoint.data_bits = field[0] - '0';
    endpoint.stop_bits = field[2] - '0';
}

int parse_baud(const std::string& text) {
    static const int kRates[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400};
    // Framing written without the baud rate before it (DEVICE:8N1).
    if (std::any_of(text.begin(), text.end(), [](unsigned char c) { return std::isalpha(c) != 0; })) {
        throw std::invalid_argument("'" + text + "' stands where the baud rate goes (DEVICE:BAUD:" + text +
                                    ", or DEVICE::" + text + " for the device's own rate)");
    }
    const int baud = parse_int(text, 1, 230400, "baud rate");
    for (int rate : kRates) {
        if (rate == baud) return baud;
    }
    throw std::invalid_argument("baud rate " + text + " is not a standard serial rate");
}

}  // namespace

std::string ModbusEndpoint::describe() const {
    if (transport == Transport::tcp) {
        return "tcp:" + host + ":" + std::to_string(port) + " unit " + std::to_string(unit);
    }
    return "rtu:" + device + " " + std::to_string(baud) + " " + std::to_string(data_bits) + parity +
           std::to_string(stop_bits) + " unit " + std::to_string(unit);
}

ModbusEndpoint parse_tcp_endpoint(const std::string& text) {
    const auto parts = split(text);
    if (parts.size() > 3 || parts[0].empty()) {
        throw std::invalid_argument("'" + text + "' is not HOST[:PORT[:UNIT]]");
    }
    ModbusEndpoint endpoint;
    endpoint.transport = ModbusEndpoint::Transport::tcp;
    endpoint.host = parts[0];
    if (parts.size() > 1) endpoint.port = parse_int(parts[1], 0, 65535, "port");
    if (parts.size() > 2) endpoint.unit = parse_tcp_unit(parts[2]);
    return endpoint;
}

ModbusEndpoint parse_rtu_endpoint(const std::string& text) {
    const auto parts = split(text);
    if (parts.size() > 4 || parts[0].empty()) {
        throw std::invalid_argument("'" + text + "' is not DEVICE[:BAUD[:PARITY[:UNIT]]]");
    }
    ModbusEndpoint endpoint;
    endpoint.transport = ModbusEndpoint::Transport::rtu;
    endpoint.device = parts[0];
    if (parts.size() > 1 && !parts[1].empty()) endpoint.baud = parse_baud(parts[1]);
    if (parts.size() > 2 && !parts[2].empty()) parse_framing(parts[2], endpoint);
    if (parts.size() > 3 && !parts[3].empty()) endpoint.unit = parse_rtu_unit(parts[3]);
    return endpoint;
}
