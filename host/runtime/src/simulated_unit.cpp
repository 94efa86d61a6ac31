#include "host_runtime/simulated_unit.h"

#include <algorithm>

LinkResult SimulatedUnit::transact(const ModbusRequest& request) {
    LinkResult result;
    const long end = static_cast<long>(request.start) + request.count;
    if (request.start < 0 || request.count <= 0 || end > kRegisterCount) {
        result.error = "register range outside the simulated unit";
        result.failure = LinkFailure::exception;
        result.exception_code = 0x02;  // illegal data address, as a real unit answers
        return result;
    }
    const auto first = registers_.begin() + request.start;
    switch (request.kind) {
        case ModbusRequest::Kind::read_registers:
            result.words.assign(first, first + request.count);
            break;
        case ModbusRequest::Kind::write_register:
            registers_[static_cast<std::size_t>(request.start)] = request.values.at(0);
            result.words = {request.values.at(0)};
            break;
        case ModbusRequest::Kind::write_registers:
            if (request.values.size() != static_cast<std::size_t>(request.count)) {
                result.error = "write carries fewer values than its count";
                result.failure = LinkFailure::refused;
                return result;
            }
            std::copy(request.values.begin(), request.values.end(), first);
            result.words = {16, static_cast<std::uint16_t>(request.count)};
            break;
    }
    result.ok = true;
    return result;
}
