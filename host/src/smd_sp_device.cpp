#include "host/smd_sp_device.h"

SMDSPDevice::SMDSPDevice() = default;
SMDSPDevice::~SMDSPDevice() = default;

bool SMDSPDevice::Reset() { return SMDVDevice::Reset(); }

bool SMDSPDevice::Init(std::weak_ptr<SMDController> controller, unsigned int data_id,
                       const Json::Value& config) {
    return SMDVDevice::Init(std::move(controller), data_id, config);
}

bool SMDSPDevice::RefreshStatus() {
    pending_.clear();
    notify("RefreshStatus", Json::Value(Json::arrayValue));
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
    pending_.clear();
    notify("OpenPort", Json::Value(Json::arrayValue));
    return true;
}

bool SMDSPDevice::ClosePort() { return true; }

ModbusRequest SMDSPDevice::take_request() {
    ModbusRequest request = std::move(pending_.front());
    pending_.pop_front();
    return request;
}
