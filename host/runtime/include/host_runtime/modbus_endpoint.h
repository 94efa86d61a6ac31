#pragma once

#include <string>

#include "host/host_api.h"

// Where a real unit is reached: Modbus TCP (host, port) or Modbus RTU on a serial device (baud,
// parity, 8 data bits, 1 stop bit), and the unit address on that line.
struct SMD_HOST_API ModbusEndpoint {
    enum class Transport { tcp, rtu };
    static constexpr int kDefaultTcpPort = 502;  // the Modbus TCP registered port
    static constexpr int kDefaultUnit = 1;

    Transport transport = Transport::tcp;
    std::string host;  // tcp: name or address
    int port = kDefaultTcpPort;
    std::string device;  // rtu: path of the serial device
    int baud = 0;        // rtu: 0 until known (the device's own rate is the default)
    char parity = 'N';   // rtu: 'N', 'E' or 'O'
    int data_bits = 8;
    int stop_bits = 1;
    int unit = kDefaultUnit;  // 1 to 247 (the Modbus unit address range)

    // "tcp:HOST:PORT unit N" or "rtu:DEVICE BAUD 8N1 unit N", for messages.
    std::string describe() const;

    bool operator==(const ModbusEndpoint& other) const {
        return transport == other.transport && host == other.host && port == other.port &&
               device == other.device && baud == other.baud && parity == other.parity &&
               data_bits == other.data_bits && stop_bits == other.stop_bits && unit == other.unit;
    }
};

// "HOST[:PORT[:UNIT]]"; throws std::invalid_argument naming what is wrong.
SMD_HOST_API ModbusEndpoint parse_tcp_endpoint(const std::string& text);
// "DEVICE[:BAUD[:PARITY[:UNIT]]]", an empty BAUD or PARITY keeping the default; throws
// std::invalid_argument. Only the standard serial rates are taken.
SMD_HOST_API ModbusEndpoint parse_rtu_endpoint(const std::string& text);
