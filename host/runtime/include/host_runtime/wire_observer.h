#pragma once

#include <sys/socket.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "host/host_api.h"
#include "host_runtime/modbus_endpoint.h"

// One frame as a link put it on the wire or took it off: the whole application data unit, the
// MBAP header on Modbus TCP, the address and the CRC on Modbus RTU.
struct WireFrame {
    enum class Direction { request, reply };
    Direction direction = Direction::request;
    // A request: when it went out; a reply: when its last byte came in.
    std::chrono::system_clock::time_point at;
    const std::uint8_t* bytes = nullptr;
    std::size_t size = 0;
    double round_trip_ms = 0;  // a reply: milliseconds since its request went out
};

// What happened to the line itself, or to an attempt that brought no usable reply.
struct WireEvent {
    enum class Kind {
        connected,       // the first connection (or the serial device opened)
        reconnected,     // a connection made again after one was lost or closed
        connect_failed,  // an attempt to connect that failed; `detail` says why
        closed,          // the connection closed (by the link, or found lost); `detail` says why
        no_reply,        // an attempt that brought no reply, or one that cannot be used; `detail` says why
    };
    Kind kind = Kind::connected;
    std::chrono::system_clock::time_point at;
    std::string detail;
    // connected and reconnected on Modbus TCP: the connection's two ends (ss_family AF_UNSPEC
    // otherwise).
    sockaddr_storage local{};
    sockaddr_storage peer{};
};

// Whoever records the wire (the frame trace, the capture). A link calls it on the thread that
// carries the request, while the request is on the line, so it must be quick; an observer that
// several links share guards itself.
class SMD_HOST_API WireObserver {
public:
    virtual ~WireObserver();
    virtual void on_frame(const ModbusEndpoint& endpoint, const WireFrame& frame) = 0;
    virtual void on_event(const ModbusEndpoint& endpoint, const WireEvent& event) = 0;
};
