#pragma once

#include <cstdint>
#include <deque>
#include <utility>

#include "host/enum_parity.h"
#include "host/host_api.h"
#include "host/modbus_request.h"
#include "host/smd_vdevice.h"

// The host's serial-port device: a device reached over a serial line. Requests issued on the
// line wait in a queue until the hosting program's bus pump carries them; starting a new round
// (RefreshStatus) or a new transaction (OpenPort) abandons whatever is still queued, so that a
// reply of an abandoned round is never taken for the new one's.
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

    // Host side: the bus pump takes the oldest queued request.
    bool has_pending_request() const { return !pending_.empty(); }
    ModbusRequest take_request();

    int baud_rate() const { return baud_rate_; }
    int step() const { return step_; }

protected:
    std::int32_t step_ = 0;
    std::uint8_t serial_flag_ = 0;
    std::int32_t baud_rate_ = 9600;

    void queue_request(ModbusRequest request) { pending_.push_back(std::move(request)); }

private:
    std::deque<ModbusRequest> pending_;
};
