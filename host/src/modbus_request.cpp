#include "host/modbus_request.h"

std::string describe_request(const ModbusRequest& request) {
    const char* verb = request.kind == ModbusRequest::Kind::read_registers ? "read " : "write ";
    return verb + std::to_string(request.start) + "+" + std::to_string(request.count);
}
