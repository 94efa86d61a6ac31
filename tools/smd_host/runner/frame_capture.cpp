#include "frame_capture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pcap/pcap.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace {

constexpr std::uint8_t kTcp = 6;  // IP protocol numbers
constexpr std::uint8_t kUdp = 17;
constexpr std::uint8_t kFin = 0x01;  // TCP flags
constexpr std::uint8_t kSyn = 0x02;
constexpr std::uint8_t kPush = 0x08;
constexpr std::uint8_t kAck = 0x10;
constexpr std::size_t kTcpHeader = 20;
constexpr std::size_t kUdpHeader = 8;
// Room for any frame with its headers in one IP packet (a Modbus frame is at most 260 bytes;
// a link may still hand over whatever garbage it received).
constexpr std::size_t kMaxPayload = 65000;
constexpr int kSnapLength = 65535;
constexpr std::uint16_t kUnknownRunnerPort = 49152;  // the first dynamic port

void put16(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value) {
    out[at] = static_cast<std::uint8_t>(value >> 8);
    out[at + 1] = static_cast<std::uint8_t>(value);
}

void put32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value) {
    put16(out, at, value >> 16);
    put16(out, at + 2, value);
}

// The Internet checksum's running sum (RFC 1071) of big-endian 16-bit words.
std::uint32_t add_words(std::uint32_t sum, const std::uint8_t* bytes, std::size_t size) {
    for (std::size_t i = 0; i + 1 < size; i += 2)
        sum += static_cast<std::uint32_t>(bytes[i] << 8 | bytes[i + 1]);
    if (size % 2 != 0) sum += static_cast<std::uint32_t>(bytes[size - 1] << 8);
    return sum;
}

std::uint16_t fold(std::uint32_t sum) {
    while (sum >> 16 != 0) sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

timeval packet_time(std::chrono::system_clock::time_point at) {
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(at.time_since_epoch()).count();
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(us / 1000000);
    tv.tv_usec = static_cast<suseconds_t>(us % 1000000);
    return tv;
}

}  // namespace

FrameCapture::FrameCapture(const std::string& path) : path_(path) {
    std::FILE* file = std::fopen(path.c_str(), "wbe");
    if (file == nullptr)
        throw std::runtime_error("cannot write the capture " + path + ": " + std::strerror(errno));
    pcap_ = pcap_open_dead(DLT_RAW, kSnapLength);
    if (pcap_ != nullptr) dumper_ = pcap_dump_fopen(pcap_, file);
    if (dumper_ == nullptr) {
        const std::string reason = pcap_ != nullptr ? pcap_geterr(pcap_) : "libpcap cannot start a capture";
        std::fclose(file);
        if (pcap_ != nullptr) pcap_close(pcap_);
        throw std::runtime_error("cannot write the capture " + path + ": " + reason);
    }
    // The header goes out now, so that a file that takes nothing is refused before any round.
    errno = 0;
    if (pcap_dump_flush(dumper_) != 0) {
        const std::string reason = std::strerror(errno != 0 ? errno : EIO);
        pcap_dump_close(dumper_);
        pcap_close(pcap_);
        throw std::runtime_error("cannot write the capture " + path + ": " + reason);
    }
}

FrameCapture::~FrameCapture() {
    pcap_dump_close(dumper_);
    pcap_close(pcap_);
}

void FrameCapture::on_frame(const ModbusEndpoint& endpoint, const WireFrame& frame) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!error_.empty()) return;
    const bool request = frame.direction == WireFrame::Direction::request;
    const std::size_t size = std::min(frame.size, kMaxPayload);
    if (endpoint.transport == ModbusEndpoint::Transport::tcp) {
        TcpConversation& c = tcp_conversation(endpoint, frame.at);
        write_tcp(c, request, kPush | kAck, frame.bytes, size, frame.at);
        return;
    }
    const auto line =
        rtu_lines_.emplace(endpoint.device, static_cast<std::uint16_t>(kRtuLinePort + rtu_lines_.size()));
    End runner;
    std::memcpy(runner.address, "\x7f\x00\x00\x01", 4);
    runner.port = line.first->second;
    End unit;
    std::memcpy(unit.address, "\x7f\x00\x00\x02", 4);
    unit.port = kRtuUnitPort;
    std::vector<std::uint8_t> datagram(kUdpHeader + size);
    put16(datagram, 0, request ? runner.port : unit.port);
    put16(datagram, 2, request ? unit.port : runner.port);
    put16(datagram, 4, static_cast<std::uint32_t>(datagram.size()));
    if (size > 0) std::memcpy(datagram.data() + kUdpHeader, frame.bytes, size);
    write_packet(request ? runner : unit, request ? unit : runner, kUdp, datagram, frame.at);
}

void FrameCapture::on_event(const ModbusEndpoint& endpoint, const WireEvent& event) {
    if (endpoint.transport != ModbusEndpoint::Transport::tcp) return;
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!error_.empty()) return;
    const std::string key = endpoint.describe();
    switch (event.kind) {
        case WireEvent::Kind::connected:
        case WireEvent::Kind::reconnected: {
            End ends[2];
            const sockaddr_storage* addresses[2] = {&event.local, &event.peer};
            bool known = true;
            for (int i = 0; i < 2; ++i) {
                const sockaddr_storage& a = *addresses[i];
                if (a.ss_family == AF_INET) {
                    const auto& in = reinterpret_cast<const sockaddr_in&>(a);
                    std::memcpy(ends[i].address, &in.sin_addr, 4);
                    ends[i].port = ntohs(in.sin_port);
                } else if (a.ss_family == AF_INET6) {
                    const auto& in6 = reinterpret_cast<const sockaddr_in6&>(a);
                    ends[i].v6 = true;
                    std::memcpy(ends[i].address, &in6.sin6_addr, 16);
                    ends[i].port = ntohs(in6.sin6_port);
                } else {
                    known = false;
                }
            }
            close_tcp(key, event.at);
            if (known && ends[0].v6 == ends[1].v6) {
                open_tcp(key, ends[0], ends[1], event.at);
            } else {
                tcp_conversation(endpoint, event.at);
            }
            break;
        }
        case WireEvent::Kind::closed:
            close_tcp(key, event.at);
            break;
        case WireEvent::Kind::connect_failed:
        case WireEvent::Kind::no_reply:
            break;
    }
}

bool FrameCapture::flush() {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!error_.empty()) return false;
    errno = 0;
    if (pcap_dump_flush(dumper_) != 0 || std::ferror(pcap_dump_file(dumper_)) != 0)
        fail(std::strerror(errno != 0 ? errno : EIO));
    return error_.empty();
}

std::string FrameCapture::error() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return error_;
}

// The open connection to `endpoint`; when the link announced none, one between the endpoint's
// address (when it is numeric) and an unknown local end, so that the frames still decode.
FrameCapture::TcpConversation& FrameCapture::tcp_conversation(const ModbusEndpoint& endpoint,
                                                              std::chrono::system_clock::time_point at) {
    const std::string key = endpoint.describe();
    const auto open = tcp_.find(key);
    if (open != tcp_.end()) return open->second;
    End runner;
    End unit;
    if (inet_pton(AF_INET6, endpoint.host.c_str(), unit.address) == 1) {
        unit.v6 = runner.v6 = true;
    } else if (inet_pton(AF_INET, endpoint.host.c_str(), unit.address) != 1) {
        std::memset(unit.address, 0, sizeof unit.address);
    }
    unit.port = static_cast<std::uint16_t>(endpoint.port);
    runner.port = kUnknownRunnerPort;
    open_tcp(key, runner, unit, at);
    return tcp_.at(key);
}

void FrameCapture::open_tcp(const std::string& key, const End& runner, const End& unit,
                            std::chrono::system_clock::time_point at) {
    TcpConversation c;
    c.runner = runner;
    c.unit = unit;
    c.runner_next = next_initial_sequence_;
    c.unit_next = next_initial_sequence_ + 0x01000000;
    next_initial_sequence_ += 0x00100000;
    write_tcp(c, true, kSyn, nullptr, 0, at);
    write_tcp(c, false, kSyn | kAck, nullptr, 0, at);
    write_tcp(c, true, kAck, nullptr, 0, at);
    tcp_[key] = c;
}

// The runner's FIN, the unit's FIN and the last acknowledgement, whatever ended the connection.
void FrameCapture::close_tcp(const std::string& key, std::chrono::system_clock::time_point at) {
    const auto open = tcp_.find(key);
    if (open == tcp_.end()) return;
    TcpConversation& c = open->second;
    write_tcp(c, true, kFin | kAck, nullptr, 0, at);
    write_tcp(c, false, kFin | kAck, nullptr, 0, at);
    write_tcp(c, true, kAck, nullptr, 0, at);
    tcp_.erase(open);
}

// One segment; a SYN or a FIN counts as one byte of its side's sequence.
void FrameCapture::write_tcp(TcpConversation& c, bool from_runner, std::uint8_t flags,
                             const std::uint8_t* data, std::size_t size,
                             std::chrono::system_clock::time_point at) {
    std::uint32_t& sequence = from_runner ? c.runner_next : c.unit_next;
    const std::uint32_t acknowledged = from_runner ? c.unit_next : c.runner_next;
    std::vector<std::uint8_t> segment(kTcpHeader + size);
    put16(segment, 0, from_runner ? c.runner.port : c.unit.port);
    put16(segment, 2, from_runner ? c.unit.port : c.runner.port);
    put32(segment, 4, sequence);
    put32(segment, 8, (flags & kAck) != 0 ? acknowledged : 0);
    segment[12] = static_cast<std::uint8_t>((kTcpHeader / 4) << 4);
    segment[13] = flags;
    put16(segment, 14, 65535);  // window
    if (size > 0) std::memcpy(segment.data() + kTcpHeader, data, size);
    sequence += static_cast<std::uint32_t>(size) + ((flags & (kSyn | kFin)) != 0 ? 1 : 0);
    write_packet(from_runner ? c.runner : c.unit, from_runner ? c.unit : c.runner, kTcp, segment, at);
}

// The IP packet around `segment` (a TCP segment or UDP datagram without its checksum), both
// checksums filled in.
void FrameCapture::write_packet(const End& from, const End& to, std::uint8_t protocol,
                                const std::vector<std::uint8_t>& segment,
                                std::chrono::system_clock::time_point at) {
    const std::size_t address_size = from.v6 ? 16 : 4;
    const std::size_t header = from.v6 ? 40 : 20;
    std::vector<std::uint8_t> packet(header + segment.size());
    if (from.v6) {
        packet[0] = 0x60;
        put16(packet, 4, static_cast<std::uint32_t>(segment.size()));
        packet[6] = protocol;
        packet[7] = 64;  // hop limit
        std::memcpy(packet.data() + 8, from.address, 16);
        std::memcpy(packet.data() + 24, to.address, 16);
    } else {
        packet[0] = 0x45;
        put16(packet, 2, static_cast<std::uint32_t>(packet.size()));
        put16(packet, 4, next_ip_id_++);
        packet[6] = 0x40;  // don't fragment
        packet[8] = 64;    // time to live
        packet[9] = protocol;
        std::memcpy(packet.data() + 12, from.address, 4);
        std::memcpy(packet.data() + 16, to.address, 4);
        put16(packet, 10, fold(add_words(0, packet.data(), header)));
    }
    std::memcpy(packet.data() + header, segment.data(), segment.size());
    // The transport checksum covers the pseudo-header: both addresses, the protocol and the length.
    std::uint32_t sum = add_words(0, from.address, address_size);
    sum = add_words(sum, to.address, address_size);
    sum += protocol + static_cast<std::uint32_t>(segment.size());
    std::uint16_t checksum = fold(add_words(sum, segment.data(), segment.size()));
    if (protocol == kUdp && checksum == 0) checksum = 0xffff;  // 0 means none in UDP
    put16(packet, header + (protocol == kTcp ? 16 : 6), checksum);

    pcap_pkthdr head{};
    head.ts = packet_time(at);
    head.caplen = head.len = static_cast<bpf_u_int32>(packet.size());
    errno = 0;
    pcap_dump(reinterpret_cast<u_char*>(dumper_), &head, packet.data());
    if (std::ferror(pcap_dump_file(dumper_)) != 0) fail(std::strerror(errno != 0 ? errno : EIO));
}

void FrameCapture::fail(const std::string& reason) {
    if (error_.empty()) error_ = "cannot write the capture " + path_ + ": " + reason;
}
