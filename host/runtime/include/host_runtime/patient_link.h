#pragma once

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/host_api.h"
#include "host_runtime/bus_link.h"
#include "host_runtime/link_counters.h"
#include "host_runtime/modbus_endpoint.h"
#include "host_runtime/wire_observer.h"

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
    // Told every frame and every connection event (the frame trace, the capture).
    std::vector<WireObserver*> wire_observers;
    // Once set (by a signal handler, say), every wait of the link ends: the quiet between
    // requests, the wait after a connection is made and before a busy unit is asked again. The
    // request then fails as interrupted.
    const std::atomic<bool>* stop = nullptr;
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

// A link's patience with its unit, apart from how the line is reached: connecting with back-off,
// the quiet between requests and after a connection, the retries of a lost or garbled reply and
// of a busy unit, and the counters of all that. A transport (ModbusLink) opens the line and
// carries one attempt.
//
// Promises:
// - one request at a time, on the calling thread; the link is used by one thread only;
// - every call returns within a bounded time: (retries + 1) attempts plus (busy_retries) waits;
// - an exception reply fails the request at once, but for exception 06 (busy), tried again up
//   to `busy_retries` times after `busy_wait`; a time-out, a garbled reply, another unit's reply
//   or a lost connection is retried up to `retries` times;
// - a lost connection is made again by the next request; a failed connection attempt makes the
//   following requests fail at once until the back-off has passed;
// - a stop request ends every wait at once.
class SMD_HOST_API PatientLink : public BusLink {
public:
    PatientLink(ModbusEndpoint endpoint, LinkSettings settings);
    ~PatientLink() override;
    PatientLink(const PatientLink&) = delete;
    PatientLink& operator=(const PatientLink&) = delete;

    LinkResult transact(const ModbusRequest& request) final;

    const ModbusEndpoint& endpoint() const { return endpoint_; }
    LinkCounters& counters() { return counters_; }
    const LinkCounters& counters() const { return counters_; }
    bool connected() const { return connected_; }
    // Opens the line now rather than at the first request (a refused setting shows at once);
    // false, with the reason in `error`, when it cannot be opened.
    bool open(std::string& error) { return connected_ || connect(error); }
    // The unit the following requests go to, on a line that carries several.
    void address(int unit) { endpoint_.unit = unit; }
    // Closes the line; the next request opens it again.
    void close_line() { drop("closed by the runner"); }
    // While the link waits out its reconnect back-off, the end of that wait; otherwise the epoch.
    Clock::time_point next_attempt() const override {
        return connected_ ? Clock::time_point{} : next_connect_;
    }

protected:
    // Opens the line; false, with the reason in `error`, when it cannot. Fills `opened`'s
    // addresses where the line has them. May throw LinkSettingRefused.
    virtual bool open_line(std::string& error, WireEvent& opened) = 0;
    // Closes the open line.
    virtual void close_connection() = 0;
    // Carries one attempt of `request` on the open line: the reply's words, or the failure with
    // its kind and reason (without the request's name, which the link adds). A transport that
    // finds the connection unusable afterwards calls drop().
    virtual void exchange(const ModbusRequest& request, LinkResult& result) = 0;
    // The clock and the wait the link paces itself by; a test may put its own in.
    virtual Clock::time_point now() const { return Clock::now(); }
    // Waits until `until`; false when a stop request ended the wait first.
    virtual bool wait_until(Clock::time_point until);

    // Closes the line (when open) and tells the observers why.
    void drop(const std::string& reason);
    void tell(const WireFrame& frame) const;
    void tell(WireEvent::Kind kind, const std::string& detail) const;
    const LinkSettings& settings() const { return settings_; }

private:
    bool connect(std::string& error);
    bool wait_seconds(double seconds);
    // One attempt: connects if needed, keeps the quiet between requests, exchanges.
    void attempt(const ModbusRequest& request, LinkResult& result);

    ModbusEndpoint endpoint_;
    LinkSettings settings_;
    bool connected_ = false;
    bool ever_connected_ = false;
    bool fresh_connection_ = false;  // no attempt yet on the connection
    double backoff_ = 0;
    Clock::time_point next_connect_{};
    Clock::time_point last_request_end_{};
    LinkCounters counters_;
};
