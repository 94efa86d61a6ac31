#pragma once

#include <string>

#include "host/host_api.h"

// Where a real unit is reached: Modbus TCP (host, port) or Modbus RTU on a serial device (baud,
// data bits, parity, stop bits), and the unit address on that line.
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
    int unit = kDefaultUnit;  // rtu: 1 to 247 (the Modbus unit address range); tcp: 0 to 255

    // "tcp:HOST:PORT unit N" or "rtu:DEVICE BAUD 8N1 unit N", for messages.
    std::string describe() const;

    bool operator==(const ModbusEndpoint& other) const {
        return transport == other.transport && host == other.host && port == other.port &&
               device == other.device && baud == other.baud && parity == other.parity &&
               data_bits == other.data_bits && stop_bits == other.stop_bits && unit == other.unit;
    }
};

// "HOST[:PORT[:UNIT]]", UNIT 0 to 255; throws std::invalid_argument naming what is wrong.
SMD_HOST_API ModbusEndpoint parse_tcp_endpoint(const std::string& text);
// "DEVICE[:BAUD[:PARITY[:UNIT]]]", an empty BAUD or PARITY keeping the default; PARITY is N, E or
// O (8 data bits, 1 stop bit) or the three characters of data bits 5 to 8, parity and stop bits 1
// or 2 ("8N1", "7E1"). Throws std::invalid_argument naming the field. Only the standard serial
// rates are taken.
SMD_HOST_API ModbusEndpoint parse_rtu_endpoint(const std::string& text);
