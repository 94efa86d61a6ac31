// A reply frame as it comes off the wire, of any length and content, checked against a request
// the link could have sent: on Modbus TCP (after the MBAP header) and on RTU (before the CRC).
//
// Input: transport, request kind, first register, count (bounded to the Modbus limits), then the
// reply frame's bytes.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_support.h"
#include "host_runtime/modbus_frame.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    const ModbusEndpoint::Transport transports[] = {ModbusEndpoint::Transport::tcp,
                                                    ModbusEndpoint::Transport::rtu};
    const ModbusRequest::Kind kinds[] = {ModbusRequest::Kind::read_registers,
                                         ModbusRequest::Kind::write_register,
                                         ModbusRequest::Kind::write_registers};
    const auto transport = input.pick(transports);
    ModbusRequest request;
    request.kind = input.pick(kinds);
    request.start = input.u16() % 60000;
    request.count = request.kind == ModbusRequest::Kind::write_register ? 1 : 1 + input.byte() % 123;
    if (request.kind != ModbusRequest::Kind::read_registers) {
        request.values.assign(static_cast<std::size_t>(request.count), 7);
    }
    const int unit = input.byte();
    const std::vector<std::uint8_t> frame = input.bytes(input.left());

    const auto message = modbus_frame::message_of(frame.data(), frame.size(), transport);
    FUZZ_CHECK(message.size <= frame.size());
    LinkResult result;
    modbus_frame::check_reply(request, unit, message.bytes, message.size, result);
    if (result.failure == LinkFailure::none) {
        // A usable reply is exactly what its request asks for, from the unit asked.
        const std::size_t words = request.kind == ModbusRequest::Kind::read_registers
                                      ? static_cast<std::size_t>(request.count)
                                  : request.kind == ModbusRequest::Kind::write_register ? 1
                                                                                        : 2;
        FUZZ_CHECK(result.words.size() == words);
        FUZZ_CHECK(message.bytes[0] == unit);
    } else {
        FUZZ_CHECK(result.words.empty() && !result.error.empty());
    }
    (void)modbus_frame::describe_message(message, true, request.start);
    (void)modbus_frame::describe_message(message, false, request.start);
    // The request the link would send reads back as itself.
    const auto sent = modbus_frame::wire_frame(modbus_frame::request_message(request, unit), transport);
    const auto sent_message = modbus_frame::message_of(sent.data(), sent.size(), transport);
    FUZZ_CHECK(modbus_frame::first_register_of(sent_message) == request.start);
    return 0;
}
