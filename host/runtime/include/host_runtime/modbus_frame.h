#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/host_api.h"
#include "host/modbus_request.h"
#include "host_runtime/bus_link.h"
#include "host_runtime/modbus_endpoint.h"

// Modbus frames as they go on the wire: a request built from a ModbusRequest, a reply checked
// against the request it answers, and either told in words for a trace. "Message" below is the
// unit address followed by the protocol data unit (function code and data): the frame without
// the MBAP header of Modbus TCP and without the CRC of Modbus RTU.
namespace modbus_frame {

inline constexpr std::size_t kMbapHeaderSize = 7;  // transaction, protocol, length, unit
inline constexpr std::size_t kCrcSize = 2;         // RTU: CRC-16, low byte first
inline constexpr std::uint8_t kReadRegisters = 0x03;
inline constexpr std::uint8_t kWriteRegister = 0x06;
inline constexpr std::uint8_t kWriteRegisters = 0x10;
inline constexpr std::uint8_t kExceptionBit = 0x80;

// The request's message for `unit`; the request must be within the Modbus limits.
SMD_HOST_API std::vector<std::uint8_t> request_message(const ModbusRequest& request, int unit);

// The whole frame libmodbus's raw request call puts on the wire for `message`: on TCP the MBAP
// header (transaction 0, which that call always sends) before it, on RTU the CRC after it.
SMD_HOST_API std::vector<std::uint8_t> wire_frame(const std::vector<std::uint8_t>& message,
                                                  ModbusEndpoint::Transport transport);

// Modbus RTU's CRC-16 of `size` bytes.
SMD_HOST_API std::uint16_t crc16(const std::uint8_t* bytes, std::size_t size);

// Checks the reply `message` (`size` bytes) to `request`, sent to `unit`, and fills `result`:
// the words on success (a read: the registers; a single write: the value echoed; a multiple
// write: the function code and the count the unit answered), else the failure and its reason.
SMD_HOST_API void check_reply(const ModbusRequest& request, int unit, const std::uint8_t* message,
                              std::size_t size, LinkResult& result);

// "illegal data address" for 02 (Modbus application protocol, section 7).
SMD_HOST_API const char* exception_name(int code);

// The message inside a whole frame on `transport`; size 0 when the frame is too short to hold one.
struct MessageView {
    const std::uint8_t* bytes = nullptr;
    std::size_t size = 0;
};
SMD_HOST_API MessageView message_of(const std::uint8_t* frame, std::size_t size,
                                    ModbusEndpoint::Transport transport);

// A message in words: a request "03 read 4096+7", "06 write 5000=1", "10 write 300+3"; a reply
// "03 reply 4096+7" (the first register of its request when known, else "03 reply 7
// registers"), "06 reply 5000=1", "10 reply 300+3", "83 exception 06 (server device busy)";
// what it cannot tell, "function 2B" or "too short".
SMD_HOST_API std::string describe_message(const MessageView& message, bool request, int first_register = -1);

// The first register a request message names; -1 when it is too short to name one.
SMD_HOST_API int first_register_of(const MessageView& request);

}  // namespace modbus_frame
