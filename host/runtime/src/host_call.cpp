#include "host_runtime/host_call.h"

std::string to_hex(const unsigned char* bytes, std::size_t length) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(length * 2);
    for (std::size_t i = 0; i < length; ++i) {
        text.push_back(digits[bytes[i] >> 4]);
        text.push_back(digits[bytes[i] & 0x0f]);
    }
    return text;
}

std::vector<unsigned char> from_hex(const std::string& hex) {
    auto digit = [](char c) {
        return static_cast<unsigned char>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
    };
    std::vector<unsigned char> bytes(hex.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<unsigned char>(digit(hex[2 * i]) << 4 | digit(hex[2 * i + 1]));
    }
    return bytes;
}

HostObserver::~HostObserver() = default;

void HostCallObserver::call(const char* name, std::initializer_list<Json::Value> args) {
    HostCall c;
    c.name = name;
    for (const auto& v : args) c.args.append(v);
    on_host_call(c);
}

void HostCallObserver::on_init_setting(const InitSettingCall& c) { call("InitSetting", {c.settings}); }
void HostCallObserver::on_refresh_status() { call("RefreshStatus", {}); }
void HostCallObserver::on_open_port() { call("OpenPort", {}); }
void HostCallObserver::on_reset() { call("Reset", {}); }

void HostCallObserver::on_device_io_control(const DeviceIoControlCall& c) {
    call("DeviceIoControl",
         {c.code, c.in != nullptr ? to_hex(c.in, static_cast<std::size_t>(c.in_len)) : std::string(),
          c.in_len, c.out_size});
}

void HostCallObserver::on_send_sp(const SendSPCall& c) {
    call("SendSP", {c.type, to_hex(c.bytes, c.length), c.length, c.flag});
}

void HostCallObserver::on_save_device_history(const SaveDeviceHistoryCall& c) {
    call("SaveDeviceHistory", {to_hex(c.bytes, c.length), c.length});
}

void HostCallObserver::on_check_threshold(const CheckThresholdCall& c) {
    call("CheckThreshold", {c.alarm_id, c.name, static_cast<double>(c.value), c.serial});
}

void HostCallObserver::on_check_threshold_bool(const CheckThresholdBoolCall& c) {
    call("CheckThresholdBool", {c.level, c.alarm_id, c.signal, c.value_text, c.message, c.state, c.serial});
}

void HostCallObserver::on_check_ao_report(const CheckAOReportCall& c) {
    call("CheckAOReport", {c.signal_id, static_cast<double>(c.value)});
}

void HostCallObserver::on_do_batch_check_threshold(const DoBatchCheckThresholdCall& c) {
    call("DoBatchCheckThreshold", {static_cast<Json::UInt64>(c.rule_values)});
}

void HostCallObserver::on_read_registers(const ReadRegistersCall& c) {
    call("modbus_read_registers", {c.start, c.count});
}

void HostCallObserver::on_write_register(const WriteRegisterCall& c) {
    call("modbus_write_register", {c.reg, c.value});
}

void HostCallObserver::on_write_registers(const WriteRegistersCall& c) {
    call("modbus_write_registers", {c.start, c.count, to_hex(c.words, c.bytes)});
}
