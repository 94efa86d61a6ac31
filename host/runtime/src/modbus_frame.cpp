#include "host_runtime/modbus_frame.h"

#include <cstdio>

namespace modbus_frame {
namespace {

std::uint8_t high(int value) { return static_cast<std::uint8_t>((value >> 8) & 0xff); }
std::uint8_t low(int value) { return static_cast<std::uint8_t>(value & 0xff); }
int word_at(const std::uint8_t* bytes) { return (bytes[0] << 8) | bytes[1]; }

std::uint8_t function_of(ModbusRequest::Kind kind) {
    switch (kind) {
        case ModbusRequest::Kind::read_registers:
            return kReadRegisters;
        case ModbusRequest::Kind::write_register:
            return kWriteRegister;
        case ModbusRequest::Kind::write_registers:
            return kWriteRegisters;
    }
    return 0;
}

void garbled(LinkResult& result, const std::string& why) {
    result.failure = LinkFailure::garbled;
    result.error = why;
}

std::string hex2(int value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02X", value & 0xff);
    return text;
}

}  // namespace

std::vector<std::uint8_t> request_message(const ModbusRequest& request, int unit) {
    std::vector<std::uint8_t> message{low(unit), function_of(request.kind), high(request.start),
                                      low(request.start)};
    switch (request.kind) {
        case ModbusRequest::Kind::read_registers:
            message.insert(message.end(), {high(request.count), low(request.count)});
            break;
        case ModbusRequest::Kind::write_register:
            message.insert(message.end(), {high(request.values.at(0)), low(request.values.at(0))});
            break;
        case ModbusRequest::Kind::write_registers:
            message.insert(message.end(), {high(request.count), low(request.count), low(2 * request.count)});
            for (int i = 0; i < request.count; ++i) {
                const int value = request.values.at(static_cast<std::size_t>(i));
                message.insert(message.end(), {high(value), low(value)});
            }
            break;
    }
    return message;
}

std::vector<std::uint8_t> wire_frame(const std::vector<std::uint8_t>& message,
                                     ModbusEndpoint::Transport transport) {
    if (transport == ModbusEndpoint::Transport::tcp) {
        // The length field counts the unit address and the PDU.
        const int length = static_cast<int>(message.size());
        std::vector<std::uint8_t> frame{0, 0, 0, 0, high(length), low(length)};
        frame.insert(frame.end(), message.begin(), message.end());
        return frame;
    }
    std::vector<std::uint8_t> frame = message;
    const std::uint16_t crc = crc16(message.data(), message.size());
    frame.insert(frame.end(), {low(crc), high(crc)});
    return frame;
}

std::uint16_t crc16(const std::uint8_t* bytes, std::size_t size) {
    std::uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return crc;
}

const char* exception_name(int code) {
    switch (code) {
        case 0x01:
            return "illegal function";
        case 0x02:
            return "illegal data address";
        case 0x03:
            return "illegal data value";
        case 0x04:
            return "server device failure";
        case 0x05:
            return "acknowledge";
        case 0x06:
            return "server device busy";
        case 0x08:
            return "memory parity error";
        case 0x0A:
            return "gateway path unavailable";
        case 0x0B:
            return "gateway target device failed to respond";
        default:
            return "unknown exception";
    }
}

void check_reply(const ModbusRequest& request, int unit, const std::uint8_t* message, std::size_t size,
                 LinkResult& result) {
    const std::string unit_name = "unit " + std::to_string(unit);
    const std::uint8_t function = function_of(request.kind);
    if (size < 3) return garbled(result, "reply too short");
    if (message[0] != unit) {
        result.failure = LinkFailure::other_unit;
        result.error = "a reply came from unit " + std::to_string(message[0]) + ", not from " + unit_name +
                       ": check the unit id";
        return;
    }
    if (message[1] == (function | kExceptionBit)) {
        const int code = message[2];
        result.failure = LinkFailure::exception;
        result.exception_code = code;
        result.error = unit_name + " answered exception " + hex2(code) + " (" + exception_name(code) + ")";
        // A TCP server that stands for units behind it answers 0B for a unit id it does not reach.
        if (code == 0x0B) result.error += ": no " + unit_name + " there, check the unit id";
        return;
    }
    if (message[1] != function) {
        return garbled(
            result, "reply of function " + hex2(message[1]) + " to a request of function " + hex2(function));
    }
    if (request.kind == ModbusRequest::Kind::read_registers) {
        const std::size_t bytes = message[2];
        if (bytes != 2 * static_cast<std::size_t>(request.count) || size != 3 + bytes) {
            return garbled(result, "reply of the wrong length");
        }
        result.words.resize(static_cast<std::size_t>(request.count));
        for (std::size_t i = 0; i < result.words.size(); ++i) {
            result.words[i] = static_cast<std::uint16_t>(word_at(message + 3 + 2 * i));
        }
        return;
    }
    if (size != 6) return garbled(result, "reply of the wrong length");
    if (word_at(message + 2) != request.start) return garbled(result, "reply for another register");
    const auto echoed = static_cast<std::uint16_t>(word_at(message + 4));
    if (request.kind == ModbusRequest::Kind::write_register) {
        result.words = {echoed};
    } else {
        result.words = {message[1], echoed};
    }
}

MessageView message_of(const std::uint8_t* frame, std::size_t size, ModbusEndpoint::Transport transport) {
    if (transport == ModbusEndpoint::Transport::tcp) {
        if (size < kMbapHeaderSize) return {};
        return {frame + kMbapHeaderSize - 1, size - kMbapHeaderSize + 1};
    }
    if (size < 1 + kCrcSize) return {};
    return {frame, size - kCrcSize};
}

int first_register_of(const MessageView& request) {
    return request.size < 4 ? -1 : word_at(request.bytes + 2);
}

std::string describe_message(const MessageView& message, bool request, int first_register) {
    if (message.size < 2) return "too short";
    const std::uint8_t* m = message.bytes;
    const int function = m[1];
    const std::string code = hex2(function);
    if (function & kExceptionBit) {
        if (message.size < 3) return code + " exception, too short";
        return code + " exception " + hex2(m[2]) + " (" + exception_name(m[2]) + ")";
    }
    const bool read = function == kReadRegisters;
    if (!read && function != kWriteRegister && function != kWriteRegisters) return "function " + code;
    if (read && !request) {
        if (message.size < 3) return code + " reply, too short";
        const std::string count = std::to_string(m[2] / 2);
        if (first_register < 0) return code + " reply " + count + " registers";
        return code + " reply " + std::to_string(first_register) + "+" + count;
    }
    if (message.size < 6) return code + (request ? " request" : " reply") + ", too short";
    const std::string start = std::to_string(word_at(m + 2));
    const std::string word = std::to_string(word_at(m + 4));
    const char* verb = request ? (read ? " read " : " write ") : " reply ";
    return code + verb + start + (function == kWriteRegister ? "=" : "+") + word;
}

}  // namespace modbus_frame
