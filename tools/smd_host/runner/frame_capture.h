#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "host_runtime/wire_observer.h"

typedef struct pcap pcap_t;
typedef struct pcap_dumper pcap_dumper_t;

// The capture file (--capture): every frame the links put on the wire or took off it, as a
// libpcap file of raw IP packets (link type RAW) that Wireshark and tshark open.
//
// - Modbus TCP: each frame is the payload of a TCP segment between the connection's real
//   addresses and ports (IPv4 or IPv6), with sequence and acknowledgement numbers that run on
//   across the connection. A connection opens with a SYN, SYN-ACK, ACK and ends with a FIN
//   exchange, so each one is a whole conversation; a connection made again is a new one, on the
//   new local port.
// - Modbus RTU: a serial line has no addresses, so each frame (address and CRC included) is one
//   UDP datagram between 127.0.0.1, a port of its own per line from kRtuLinePort up, and
//   127.0.0.2:kRtuUnitPort; requests go to that port and replies come from it, so the direction
//   shows. tshark decodes them with `-o mbrtu.udp.port:5020`.
// - Failed connection attempts and requests without a reply leave no packet: nothing was on the
//   wire (the frame trace says why).
//
// Several links may share one capture: each call takes the capture's lock.
class FrameCapture : public WireObserver {
public:
    static constexpr std::uint16_t kRtuUnitPort = 5020;   // the serial units' side
    static constexpr std::uint16_t kRtuLinePort = 50001;  // the runner's side of the first line

    // Creates (or empties) the file and writes its header; throws std::runtime_error, with the
    // system's reason, when it cannot be written.
    explicit FrameCapture(const std::string& path);
    ~FrameCapture() override;
    FrameCapture(const FrameCapture&) = delete;
    FrameCapture& operator=(const FrameCapture&) = delete;

    void on_frame(const ModbusEndpoint& endpoint, const WireFrame& frame) override;
    void on_event(const ModbusEndpoint& endpoint, const WireEvent& event) override;

    // Hands what was captured to the file (at each round's end and at exit); false when the file
    // could not be written.
    bool flush();
    // Why the capture could not be written ("cannot write the capture c.pcap: No space left on
    // device"); empty while it could. After a failed write nothing more is written.
    std::string error() const;

private:
    // One end of a conversation: an IPv4 or IPv6 address and a port, in network byte order.
    struct End {
        bool v6 = false;
        std::uint8_t address[16] = {};
        std::uint16_t port = 0;
    };
    struct TcpConversation {
        End runner;
        End unit;
        std::uint32_t runner_next = 0;  // the sequence number of the runner's next byte
        std::uint32_t unit_next = 0;    // the sequence number of the unit's next byte
    };

    TcpConversation& tcp_conversation(const ModbusEndpoint& endpoint,
                                      std::chrono::system_clock::time_point at);
    void open_tcp(const std::string& key, const End& runner, const End& unit,
                  std::chrono::system_clock::time_point at);
    void close_tcp(const std::string& key, std::chrono::system_clock::time_point at);
    void write_tcp(TcpConversation& c, bool from_runner, std::uint8_t flags, const std::uint8_t* data,
                   std::size_t size, std::chrono::system_clock::time_point at);
    void write_packet(const End& from, const End& to, std::uint8_t protocol,
                      const std::vector<std::uint8_t>& segment, std::chrono::system_clock::time_point at);
    void fail(const std::string& reason);

    mutable std::mutex mutex_;
    std::string path_;
    pcap_t* pcap_ = nullptr;
    pcap_dumper_t* dumper_ = nullptr;
    std::string error_;
    std::map<std::string, TcpConversation> tcp_;        // open connections, by endpoint
    std::map<std::string, std::uint16_t> rtu_lines_;    // serial device: the runner's port
    std::uint32_t next_initial_sequence_ = 0x10000000;  // each connection starts elsewhere
    std::uint16_t next_ip_id_ = 1;
};
