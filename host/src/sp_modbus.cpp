#include "host/sp_modbus.h"

#include <utility>

#include "host_runtime/host_observer.h"

SPModbus::SPModbus() = default;
SPModbus::~SPModbus() = default;

int SPModbus::process(unsigned char* /*bytes*/, unsigned int /*length*/) { return 0; }

bool SPModbus::modbus_read_registers(int start, int count) {
    notify([&](HostObserver& o) { o.on_read_registers({start, count}); });
    queue_request(ModbusRequest{ModbusRequest::Kind::read_registers, start, count, {}});
    return true;
}

bool SPModbus::modbus_write_register(int reg, int value) {
    notify([&](HostObserver& o) { o.on_write_register({reg, value}); });
    queue_request(
        ModbusRequest{ModbusRequest::Kind::write_register, reg, 1, {static_cast<std::uint16_t>(value)}});
    return true;
}

bool SPModbus::modbus_write_registers(int start, int count, const unsigned short* values) {
    std::vector<std::uint16_t> words;
    if (values != nullptr && count > 0) words.assign(values, values + count);
    notify([&](HostObserver& o) {
        o.on_write_registers(
            {start, count, reinterpret_cast<const unsigned char*>(words.data()), words.size() * 2});
    });
    queue_request(ModbusRequest{ModbusRequest::Kind::write_registers, start, count, std::move(words)});
    return true;
}

int SPModbus::deliver_reply(const std::vector<std::uint16_t>& words) {
    reply_regs_ = words;
    return process_payload(TAB_HOLDING_REGISTERS, static_cast<unsigned int>(words.size()));
}

int SPModbus::deliver_error() { return on_error(); }
