#pragma once

#include <cstdint>
#include <iostream>
#include <vector>

#include "host/host_api.h"
#include "host/modbus_request.h"
#include "host/smd_sp_device.h"

// The host's Modbus device. Requests the device issues are queued, never answered inside the call
// that issues them: the hosting program's bus pump carries them one at a time, fills reply_regs_
// and calls process_payload, or calls on_error when a request fails.
class SMD_HOST_API SPModbus : public SMDSPDevice {
public:
    // Register table a reply comes from.
    enum tab_type { TAB_COILS = 0, TAB_DISCRETE_INPUTS, TAB_HOLDING_REGISTERS, TAB_INPUT_REGISTERS };

    SPModbus();
    ~SPModbus() override;

    int process(unsigned char* bytes, unsigned int length) override;

    // Handles one accepted reply, whose words are in reply_regs_.
    virtual int process_payload(tab_type table, unsigned int count) = 0;
    // A request failed: the host says so on standard output and goes on.
    virtual int on_error() {
        std::cout << "SPModbus get error" << std::endl;
        return 0;
    }

    bool modbus_read_registers(int start, int count);
    bool modbus_write_register(int reg, int value);
    bool modbus_write_registers(int start, int count, const unsigned short* values);

    // Host side: the bus pump hands back the outcome of the request it took.
    int deliver_reply(const std::vector<std::uint16_t>& words);
    int deliver_error();

protected:
    std::vector<std::uint16_t> reply_regs_;
};
