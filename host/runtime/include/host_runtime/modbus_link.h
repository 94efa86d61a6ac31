#pragma once

#include <string>

#include "host/host_api.h"
#include "host_runtime/patient_link.h"

typedef struct _modbus modbus_t;

// A real Modbus line to the unit (TCP or RTU), on libmodbus's raw request and confirmation
// calls, so that every frame is seen as it went out and came in. A read goes out as function 03,
// a single write as 06 (reply {the value the unit echoed}), a multiple write as 16 (reply {the
// function code and the count the unit answered}).
//
// Promises, beyond PatientLink's:
// - each attempt is bounded by the response time-out (plus the connection time-out when it
//   connects, and the quiet wait of a serial line after a time-out);
// - a reply that arrives after its time-out is never taken for a later request's: on TCP the
//   connection is dropped and made again, on a serial line the input is drained until the line
//   has been quiet for one response time-out (a reply later than that cannot be told apart on
//   RTU, which carries no transaction numbers);
// - on a serial line a request goes out only after the line has been quiet for 3.5 characters
//   since the last frame it carried (1.75 ms above 19200 baud), so that every unit of a shared
//   bus takes the reply and the next request as two frames;
// - a lost connection is made again by the next request; a failed connection attempt makes the
//   following requests fail at once until the back-off has passed;
// - descriptors at or above FD_SETSIZE are refused (libmodbus waits with select()).
class SMD_HOST_API ModbusLink : public PatientLink {
public:
    // Throws std::invalid_argument when the endpoint cannot be used (an RTU baud rate of 0).
    ModbusLink(ModbusEndpoint endpoint, LinkSettings settings);
    ~ModbusLink() override;

private:
    bool open_line(std::string& error, WireEvent& opened) override;
    void close_connection() override;
    void exchange(const ModbusRequest& request, LinkResult& result) override;
    bool connect_tcp(std::string& error, WireEvent& opened);
    bool connect_rtu(std::string& error);
    // After a reply that came late or cannot be trusted: the line may still carry the rest of it.
    void recover_after_bad_reply(const std::string& reason);
    void drain_serial_input();

    modbus_t* ctx_ = nullptr;
    Clock::duration frame_silence_{};      // RTU: the quiet that ends a frame
    Clock::time_point line_quiet_from_{};  // RTU: the end of the last frame the line carried
};
