#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <utility>

#include "host/enum_parity.h"
#include "host/host_api.h"
#include "host/modbus_request.h"
#include "host/smd_vdevice.h"

// The host's serial-port device: a device reached over a serial line. Requests issued on the
// line wait in a queue until the hosting program's bus pump carries them; starting a new round
// (RefreshStatus) or a new transaction (OpenPort) abandons whatever is still queued, so that a
// reply of an abandoned round is never taken for the new one's. The queue is safe to use from
// several threads: a request thread may issue a write while the polling thread's bus pump takes
// the next request.
class SMD_HOST_API SMDSPDevice : public SMDVDevice {
public:
    SMDSPDevice();
    ~SMDSPDevice() override;

    bool Reset() override;
    bool Init(std::weak_ptr<SMDController> controller, unsigned int data_id,
              const Json::Value& config) override;

    virtual bool RefreshStatus();
    virtual int process(unsigned char* bytes, unsigned int length);
    virtual bool IsProcessing();
    virtual bool IsStalled();
    virtual bool SendData(const unsigned char* bytes, unsigned int length);
    virtual bool SendParityData(const unsigned char* bytes, unsigned int length, EnumParity parity);
    virtual bool OpenPort();
    virtual bool ClosePort();

    // Host side: the bus pump takes the oldest queued request, if there is one.
    std::optional<ModbusRequest> take_request();

    int baud_rate() const { return baud_rate_; }
    int step() const { return step_; }

protected:
    // The reply the device awaits. Requests on other threads change it while the polling thread
    // reads it, so it is atomic.
    std::atomic<std::int32_t> step_{0};
    std::uint8_t serial_flag_ = 0;
    std::int32_t baud_rate_ = 9600;

    void queue_request(ModbusRequest request);

private:
    // Drops whatever is still queued: a new round or transaction abandons it.
    void drop_queued_requests();

    std::mutex queue_mutex_;  // guards pending_; taken last, never held across a call out
    std::deque<ModbusRequest> pending_;
};
