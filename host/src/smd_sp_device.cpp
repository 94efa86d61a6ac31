#include "host/smd_sp_device.h"

#include "host_runtime/host_observer.h"

SMDSPDevice::SMDSPDevice() = default;
SMDSPDevice::~SMDSPDevice() = default;

bool SMDSPDevice::Reset() { return SMDVDevice::Reset(); }

bool SMDSPDevice::Init(std::weak_ptr<SMDController> controller, unsigned int data_id,
                       const Json::Value& config) {
    return SMDVDevice::Init(std::move(controller), data_id, config);
}

bool SMDSPDevice::RefreshStatus() {
    drop_queued_requests();
    notify([](HostObserver& o) { o.on_refresh_status(); });
    return true;
}

int SMDSPDevice::process(unsigned char* /*bytes*/, unsigned int /*length*/) { return 0; }
bool SMDSPDevice::IsProcessing() { return false; }
bool SMDSPDevice::IsStalled() { return false; }
bool SMDSPDevice::SendData(const unsigned char* /*bytes*/, unsigned int /*length*/) { return true; }
bool SMDSPDevice::SendParityData(const unsigned char* /*bytes*/, unsigned int /*length*/,
                                 EnumParity /*parity*/) {
    return true;
}

bool SMDSPDevice::OpenPort() {
    drop_queued_requests();
    notify([](HostObserver& o) { o.on_open_port(); });
    return true;
}

bool SMDSPDevice::ClosePort() { return true; }

void SMDSPDevice::queue_request(ModbusRequest request) {
    std::lock_guard<std::mutex> lock(queue_mutex_);
    pending_.push_back(std::move(request));
}

void SMDSPDevice::drop_queued_requests() {
    std::lock_guard<std::mutex> lock(queue_mutex_);
    pending_.clear();
}

std::optional<ModbusRequest> SMDSPDevice::take_request() {
    std::lock_guard<std::mutex> lock(queue_mutex_);
    if (pending_.empty()) return std::nullopt;
    ModbusRequest request = std::move(pending_.front());
    pending_.pop_front();
    return request;
}
