#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "host/host_api.h"
#include "host_runtime/bus_link.h"
#include "host_runtime/link_counters.h"
#include "host_runtime/modbus_endpoint.h"

typedef struct _modbus modbus_t;

// How patient a link is with the unit.
struct LinkSettings {
    double response_timeout = 1.0;   // seconds to wait for a reply (at 9600 baud, less loses replies)
    int retries = 1;                 // further attempts after a time-out, a garbled reply or a lost line
    double pause = 0;                // seconds of quiet between the end of a request and the next
    double reconnect_min = 0.5;      // back-off after a failed connection, doubled on each failure
    double reconnect_max = 30;       // up to this
    int busy_retries = 0;            // further attempts after exception 06 (server device busy)
    double busy_wait = 1;            // seconds before each of them
    double pause_after_connect = 0;  // seconds of quiet after a connection is made
    // RTU only, through libmodbus's serial-mode and RTS calls; a device that refuses one throws
    // LinkSettingRefused when the line is opened.
    bool rs485 = false;     // the kernel's RS-485 mode (the driver switches the transceiver)
    int rts = 0;            // 0: RTS untouched; 1: RTS up while sending; -1: RTS down while sending
    int rts_delay_us = -1;  // microseconds around sending with RTS switched (-1: libmodbus's own)
    std::FILE* frame_trace = nullptr;  // every frame as it went on the wire, one line each
};

// A serial device that refuses a setting it was asked for (a pseudo-terminal has no RS-485 mode
// and no RTS line): never ignored, the line is unusable as asked.
struct SMD_HOST_API LinkSettingRefused : std::runtime_error {
    LinkSettingRefused(const std::string& device, const std::string& setting, const std::string& reason)
        : std::runtime_error(device + " refuses " + setting + ": " + reason),
          device(device),
          setting(setting),
          reason(reason) {}
    std::string device;
    std::string setting;  // "rs485" or "rts"
    std::string reason;
};

// A real Modbus line to the unit (TCP or RTU), on libmodbus. A read goes out as function 03, a
// single write as 06 (reply {the value the unit echoed}), a multiple write as 16 (reply {16, the
// count the unit echoed}, libmodbus refusing any other count).
//
// Promises:
// - one request at a time, on the calling thread; the link is used by one thread only;
// - every call returns within a bounded time: (retries + 1) attempts, each bounded by the
//   response time-out (plus the connection time-out when it connects, and the quiet wait of a
//   serial line after a time-out);
// - an exception reply fails the request at once, but for exception 06 (busy), tried again up
//   to `busy_retries` times after `busy_wait`; a time-out, a garbled reply or a lost
//   connection is retried up to `retries` times;
// - a reply that arrives after its time-out is never taken for a later request's: on TCP the
//   connection is dropped and made again, on a serial line the input is drained until the line
//   has been quiet for one response time-out (a reply later than that cannot be told apart on
//   RTU, which carries no transaction numbers);
// - a lost connection is made again by the next request; a failed connection attempt makes the
//   following requests fail at once until the back-off has passed;
// - descriptors at or above FD_SETSIZE are refused (libmodbus waits with select()).
class SMD_HOST_API ModbusLink : public BusLink {
public:
    // Throws std::invalid_argument when the endpoint cannot be used (an RTU baud rate of 0).
    ModbusLink(ModbusEndpoint endpoint, LinkSettings settings);
    ~ModbusLink() override;
    ModbusLink(const ModbusLink&) = delete;
    ModbusLink& operator=(const ModbusLink&) = delete;

    LinkResult transact(const ModbusRequest& request) override;

    const ModbusEndpoint& endpoint() const { return endpoint_; }
    LinkCounters& counters() { return counters_; }
    const LinkCounters& counters() const { return counters_; }
    bool connected() const { return connected_; }
    // Opens the line now rather than at the first request (a refused setting shows at once);
    // false, with the reason in `error`, when it cannot be opened.
    bool open(std::string& error) { return connected_ || connect(error); }
    // Closes the line; the next request opens it again.
    void close_line() { disconnect(); }
    // While the link waits out its reconnect back-off, the end of that wait; otherwise the epoch.
    Clock::time_point next_attempt() const override {
        return connected_ ? Clock::time_point{} : next_connect_;
    }

private:
    enum class Attempt { ok, retryable, busy, final };

    Attempt attempt(const ModbusRequest& request, LinkResult& result);
    int write_register_echoed(int reg, std::uint16_t value, std::uint16_t& echoed);
    bool connect(std::string& error);
    bool connect_tcp(std::string& error);
    bool connect_rtu(std::string& error);
    void disconnect();
    void recover_after_bad_reply();
    void drain_serial_input();
    template <typename Call>
    auto traced(Call call);

    ModbusEndpoint endpoint_;
    LinkSettings settings_;
    modbus_t* ctx_ = nullptr;
    bool connected_ = false;
    bool ever_connected_ = false;
    double backoff_ = 0;
    Clock::time_point next_connect_{};
    Clock::time_point last_request_end_{};
    LinkCounters counters_;
    Clock::time_point created_ = Clock::now();
    std::FILE* debug_sink_ = nullptr;  // libmodbus's debug output, turned into frame lines
};
