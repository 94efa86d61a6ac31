#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "host/host_api.h"
#include "host/modbus_request.h"

// Why a request was not answered as asked, for a caller to decide on (the text is for people).
enum class LinkFailure {
    none,             // answered
    timeout,          // no reply within the response time-out
    exception,        // the unit answered with a Modbus exception (`exception_code`)
    garbled,          // a reply came but cannot be used (bad CRC, wrong function, wrong length)
    connection_lost,  // the connection broke while the request was on it
    other_unit,       // a unit other than the one asked answered
    no_connection,    // the line could not be opened, or waits out its reconnect back-off
    refused,          // the request itself cannot be carried (outside the Modbus limits)
    interrupted,      // the wait before another attempt was cut short by a stop request
};

// Outcome of one request carried over a link.
struct LinkResult {
    bool ok = false;
    std::vector<std::uint16_t> words;  // the reply as the device sees it in reply_regs_
    std::string error;                 // which request failed and why, for the hosting program's log
    LinkFailure failure = LinkFailure::none;
    int exception_code = 0;            // the Modbus exception code, with LinkFailure::exception
    bool first_on_connection = false;  // the attempt was the first on a connection just made
};

// A way to reach the unit: the in-process simulated unit, or a real Modbus line. A read replies
// with the registers read; a single write with {the value echoed}; a multiple write with {the
// function code and the count the unit answered}.
class SMD_HOST_API BusLink {
public:
    using Clock = std::chrono::steady_clock;

    virtual ~BusLink();
    virtual LinkResult transact(const ModbusRequest& request) = 0;
    // The earliest time a request can reach the unit: a link waiting to connect again fails every
    // request at once before then. The epoch when a request can go now.
    virtual Clock::time_point next_attempt() const { return Clock::time_point{}; }
};
