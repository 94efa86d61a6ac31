#include "host_runtime/modbus_endpoint.h"

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

int parse_unit(const std::string& text) { return parse_int(text, 1, 247, "unit address"); }

int parse_baud(const std::string& text) {
    static const int kRates[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400};
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
    if (parts.size() > 2) endpoint.unit = parse_unit(parts[2]);
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
    if (parts.size() > 2 && !parts[2].empty()) {
        const char parity = static_cast<char>(std::toupper(static_cast<unsigned char>(parts[2][0])));
        if (parts[2].size() != 1 || (parity != 'N' && parity != 'E' && parity != 'O')) {
            throw std::invalid_argument("parity '" + parts[2] + "' is not N, E or O");
        }
        endpoint.parity = parity;
    }
    if (parts.size() > 3) endpoint.unit = parse_unit(parts[3]);
    return endpoint;
}
