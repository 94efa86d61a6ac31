#pragma once

#include <cstddef>
#include <string>

#include <json/value.h>

#include "host/host_api.h"

// The host operations a device calls, one argument struct each, in the host signature's order.
// The structs refer to the caller's arguments and live only for the observer call.
struct InitSettingCall {
    const Json::Value& settings;
};
struct DeviceIoControlCall {
    int code;
    const unsigned char* in;  // null when the request carries no readable bytes
    int in_len;
    int out_size;
};
struct SendSPCall {
    int type;
    const unsigned char* bytes;
    unsigned int length;
    bool flag;
};
struct SaveDeviceHistoryCall {
    const unsigned char* bytes;
    unsigned int length;
};
struct CheckThresholdCall {
    const std::string& alarm_id;
    const std::string& name;
    float value;
    int serial;
};
struct CheckThresholdBoolCall {
    int level;
    const std::string& alarm_id;
    const std::string& signal;
    const std::string& value_text;
    const std::string& message;
    bool state;
    unsigned short serial;
};
struct CheckAOReportCall {
    const std::string& signal_id;
    float value;
};
struct DoBatchCheckThresholdCall {
    std::size_t rule_values;
};
struct ReadRegistersCall {
    int start;
    int count;
};
struct WriteRegisterCall {
    int reg;
    int value;
};
struct WriteRegistersCall {
    int start;
    int count;
    const unsigned char* words;  // the values as the device passed them, 2 bytes each
    std::size_t bytes;
};

// Receives every host operation a device calls. The hosting program installs one per device:
// tests record the calls, the runner tallies and traces them. Each operation does nothing unless
// overridden; a device with no observer builds no call at all.
class SMD_HOST_API HostObserver {
public:
    virtual ~HostObserver();
    virtual void on_init_setting(const InitSettingCall&) {}
    virtual void on_refresh_status() {}
    virtual void on_open_port() {}
    virtual void on_reset() {}
    virtual void on_device_io_control(const DeviceIoControlCall&) {}
    virtual void on_send_sp(const SendSPCall&) {}
    virtual void on_save_device_history(const SaveDeviceHistoryCall&) {}
    virtual void on_check_threshold(const CheckThresholdCall&) {}
    virtual void on_check_threshold_bool(const CheckThresholdBoolCall&) {}
    virtual void on_check_ao_report(const CheckAOReportCall&) {}
    virtual void on_do_batch_check_threshold(const DoBatchCheckThresholdCall&) {}
    virtual void on_read_registers(const ReadRegistersCall&) {}
    virtual void on_write_register(const WriteRegisterCall&) {}
    virtual void on_write_registers(const WriteRegistersCall&) {}
};
