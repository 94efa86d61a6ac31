#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <vector>

#include <json/value.h>

#include "host/host_api.h"
#include "host_runtime/host_observer.h"

// One host operation as the plug-in called it: the operation's name and its arguments in the
// host signature's order. Texts are JSON strings, numbers JSON numbers, booleans JSON booleans and
// byte buffers lowercase hex strings; DoBatchCheckThreshold carries the number of rule values.
struct SMD_HOST_API HostCall {
    std::string name;
    Json::Value args{Json::arrayValue};
};

// Lowercase hex of a byte buffer, two digits a byte.
SMD_HOST_API std::string to_hex(const unsigned char* bytes, std::size_t length);
// The bytes of a hex text as to_hex writes it; a trailing odd digit is ignored.
SMD_HOST_API std::vector<unsigned char> from_hex(const std::string& hex);

// An observer that sees each host operation as one HostCall, the form the trace file writes.
// Every operation is turned into text, byte buffers into hex, so only observers that keep or
// write whole calls derive from it.
class SMD_HOST_API HostCallObserver : public HostObserver {
public:
    virtual void on_host_call(const HostCall& call) = 0;

    void on_init_setting(const InitSettingCall& c) override;
    void on_refresh_status() override;
    void on_open_port() override;
    void on_reset() override;
    void on_device_io_control(const DeviceIoControlCall& c) override;
    void on_send_sp(const SendSPCall& c) override;
    void on_save_device_history(const SaveDeviceHistoryCall& c) override;
    void on_check_threshold(const CheckThresholdCall& c) override;
    void on_check_threshold_bool(const CheckThresholdBoolCall& c) override;
    void on_check_ao_report(const CheckAOReportCall& c) override;
    void on_do_batch_check_threshold(const DoBatchCheckThresholdCall& c) override;
    void on_read_registers(const ReadRegistersCall& c) override;
    void on_write_register(const WriteRegisterCall& c) override;
    void on_write_registers(const WriteRegistersCall& c) override;

private:
    void call(const char* name, std::initializer_list<Json::Value> args);
};
