#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pcap/pcap.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "frame_capture.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::system_clock;

// A capture file's path in the temporary directory, removed afterwards.
struct CapturePath {
    CapturePath()
        : path((std::filesystem::temp_directory_path() /
                ("px46_capture_" + std::to_string(getpid()) + "_" + std::to_string(++count) + ".pcap"))
                   .string()) {}
    ~CapturePath() { std::filesystem::remove(path); }
    static inline int count = 0;
    std::string path;
};

struct Packet {
    timeval ts;
    Bytes bytes;
};

// The packets of a capture file as libpcap reads them back; fails the test on a link type other
// than raw IP.
std::vector<Packet> read_capture(const std::string& path) {
    char error[PCAP_ERRBUF_SIZE];
    pcap_t* pcap = pcap_open_offline(path.c_str(), error);
    if (pcap == nullptr) throw std::runtime_error(error);
    EXPECT_EQ(pcap_datalink(pcap), DLT_RAW);
    std::vector<Packet> packets;
    pcap_pkthdr* head = nullptr;
    const u_char* data = nullptr;
    while (pcap_next_ex(pcap, &head, &data) == 1) {
        EXPECT_EQ(head->caplen, head->len);
        packets.push_back({head->ts, Bytes(data, data + head->caplen)});
    }
    pcap_close(pcap);
    return packets;
}

std::uint32_t be16(const Bytes& b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at] << 8 | b[at + 1]);
}
std::uint32_t be32(const Bytes& b, std::size_t at) { return be16(b, at) << 16 | be16(b, at + 2); }

std::uint32_t words(const std::uint8_t* p, std::size_t n, std::uint32_t sum = 0) {
    for (std::size_t i = 0; i < n; i += 2)
        sum += static_cast<std::uint32_t>(p[i] << 8 | (i + 1 < n ? p[i + 1] : 0));
    return sum;
}
std::uint16_t folded(std::uint32_t sum) {
    while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<std::uint16_t>(sum);
}

// One packet taken apart: its IP version, addresses as text, protocol, ports, and the TCP or UDP
// payload; both checksums must verify.
struct Decoded {
    int version = 0;
    std::string from;
    std::string to;
    int protocol = 0;
    std::uint32_t sequence = 0;
    std::uint32_t acknowledged = 0;
    int flags = 0;
    Bytes payload;
};

Decoded decode(const Bytes& p) {
    Decoded d;
    d.version = p.at(0) >> 4;
    const bool v6 = d.version == 6;
    const std::size_t header = v6 ? 40 : 20;
    const std::size_t address = v6 ? 16 : 4;
    const std::size_t at = v6 ? 8 : 12;
    d.protocol = p.at(v6 ? 6 : 9);
    if (!v6) {
        EXPECT_EQ(be16(p, 2), p.size()) << "total length";
        EXPECT_EQ(folded(words(p.data(), 20)), 0xffff) << "IPv4 header checksum";
    } else {
        EXPECT_EQ(be16(p, 4) + 40, p.size()) << "payload length";
    }
    char text[INET6_ADDRSTRLEN];
    const std::size_t segment = p.size() - header;
    inet_ntop(v6 ? AF_INET6 : AF_INET, p.data() + at, text, sizeof text);
    d.from = text + (":" + std::to_string(be16(p, header)));
    inet_ntop(v6 ? AF_INET6 : AF_INET, p.data() + at + address, text, sizeof text);
    d.to = text + (":" + std::to_string(be16(p, header + 2)));
    std::uint32_t pseudo =
        words(p.data() + at, 2 * address) + static_cast<std::uint32_t>(d.protocol + segment);
    EXPECT_EQ(folded(words(p.data() + header, segment, pseudo)), 0xffff) << "transport checksum";
    if (d.protocol == 6) {
        d.sequence = be32(p, header + 4);
        d.acknowledged = be32(p, header + 8);
        d.flags = p.at(header + 13);
        d.payload.assign(p.begin() + static_cast<long>(header + (p.at(header + 12) >> 4) * 4), p.end());
    } else {
        EXPECT_EQ(be16(p, header + 4), segment) << "UDP length";
        d.payload.assign(p.begin() + static_cast<long>(header + 8), p.end());
    }
    return d;
}

sockaddr_storage ipv4(const char* address, int port) {
    sockaddr_storage s{};
    auto& in = reinterpret_cast<sockaddr_in&>(s);
    in.sin_family = AF_INET;
    inet_pton(AF_INET, address, &in.sin_addr);
    in.sin_port = htons(static_cast<std::uint16_t>(port));
    return s;
}

sockaddr_storage ipv6(const char* address, int port) {
    sockaddr_storage s{};
    auto& in6 = reinterpret_cast<sockaddr_in6&>(s);
    in6.sin6_family = AF_INET6;
    inet_pton(AF_INET6, address, &in6.sin6_addr);
    in6.sin6_port = htons(static_cast<std::uint16_t>(port));
    return s;
}

WireEvent event(WireEvent::Kind kind, sockaddr_storage local = {}, sockaddr_storage peer = {}) {
    WireEvent e;
    e.kind = kind;
    e.at = Clock::now();
    e.local = local;
    e.peer = peer;
    return e;
}

void frame(FrameCapture& capture, const ModbusEndpoint& endpoint, WireFrame::Direction direction,
           const Bytes& bytes) {
    WireFrame f;
    f.direction = direction;
    f.at = Clock::now();
    f.bytes = bytes.data();
    f.size = bytes.size();
    capture.on_frame(endpoint, f);
}

const Bytes kTcpRequest{0, 0, 0, 0, 0, 6, 1, 3, 0x10, 0x00, 0, 2};
const Bytes kTcpReply{0, 0, 0, 0, 0, 7, 1, 3, 4, 0x12, 0x34, 0x56, 0x78};

// What a receiver of each side sees: every segment starts where that side's last one ended (a
// SYN and a FIN count one), and acknowledges all the other side sent before it.
void expect_one_stream(const std::vector<Decoded>& segments) {
    ASSERT_FALSE(segments.empty());
    const std::string runner = segments.front().from;
    std::map<std::string, std::uint32_t> next;
    for (std::size_t i = 0; i < segments.size(); ++i) {
        SCOPED_TRACE("segment " + std::to_string(i));
        const Decoded& s = segments[i];
        const std::string other = s.from == runner ? s.to : runner;
        if (next.count(s.from)) {
            EXPECT_EQ(s.sequence, next[s.from]);
        }
        if (s.flags & 0x10) {
            EXPECT_EQ(s.acknowledged, next.at(other));
        }
        next[s.from] = s.sequence + static_cast<std::uint32_t>(s.payload.size()) + ((s.flags & 0x03) ? 1 : 0);
    }
}

TEST(FrameCaptureTcp, ConnectionIsAWholeConversationBetweenTheRealEnds) {
    CapturePath file;
    const ModbusEndpoint endpoint = parse_tcp_endpoint("10.0.0.7:502");
    {
        FrameCapture capture(file.path);
        capture.on_event(endpoint,
                         event(WireEvent::Kind::connected, ipv4("10.0.0.2", 40123), ipv4("10.0.0.7", 502)));
        frame(capture, endpoint, WireFrame::Direction::request, kTcpRequest);
        frame(capture, endpoint, WireFrame::Direction::reply, kTcpReply);
        frame(capture, endpoint, WireFrame::Direction::request, kTcpRequest);
        frame(capture, endpoint, WireFrame::Direction::reply, kTcpReply);
        capture.on_event(endpoint, event(WireEvent::Kind::no_reply));
        capture.on_event(endpoint, event(WireEvent::Kind::closed));
        ASSERT_TRUE(capture.flush());
        EXPECT_EQ(capture.error(), "");
    }
    std::vector<Decoded> segments;
    for (const Packet& p : read_capture(file.path)) segments.push_back(decode(p.bytes));
    // SYN, SYN-ACK, ACK, two requests and replies, FIN, FIN, ACK.
    const int flags[] = {0x02, 0x12, 0x10, 0x18, 0x18, 0x18, 0x18, 0x11, 0x11, 0x10};
    ASSERT_EQ(segments.size(), std::size(flags));
    for (std::size_t i = 0; i < segments.size(); ++i) {
        SCOPED_TRACE("segment " + std::to_string(i));
        const bool from_runner = i != 1 && i != 4 && i != 6 && i != 8;
        EXPECT_EQ(segments[i].version, 4);
        EXPECT_EQ(segments[i].protocol, 6);
        EXPECT_EQ(segments[i].flags, flags[i]);
        EXPECT_EQ(segments[i].from, from_runner ? "10.0.0.2:40123" : "10.0.0.7:502");
        EXPECT_EQ(segments[i].to, from_runner ? "10.0.0.7:502" : "10.0.0.2:40123");
    }
    EXPECT_EQ(segments[3].payload, kTcpRequest);
    EXPECT_EQ(segments[4].payload, kTcpReply);
    expect_one_stream(segments);
}

TEST(FrameCaptureTcp, ReconnectionIsANewConversationOnTheNewPort) {
    CapturePath file;
    ModbusEndpoint endpoint;  // a name that resolved to an IPv6 address
    endpoint.host = "localhost";
    endpoint.port = 1502;
    {
        FrameCapture capture(file.path);
        capture.on_event(endpoint, event(WireEvent::Kind::connected, ipv6("::1", 40000), ipv6("::1", 1502)));
        frame(capture, endpoint, WireFrame::Direction::request, kTcpRequest);
        // Lost without a word: the reconnection ends the old conversation first.
        capture.on_event(endpoint,
                         event(WireEvent::Kind::reconnected, ipv6("::1", 40001), ipv6("::1", 1502)));
        frame(capture, endpoint, WireFrame::Direction::request, kTcpRequest);
        frame(capture, endpoint, WireFrame::Direction::reply, kTcpReply);
    }
    std::vector<Decoded> first;
    std::vector<Decoded> second;
    for (const Packet& p : read_capture(file.path)) {
        const Decoded d = decode(p.bytes);
        EXPECT_EQ(d.version, 6);
        (d.from == "::1:40000" || d.to == "::1:40000" ? first : second).push_back(d);
    }
    ASSERT_EQ(first.size(), 7u) << "handshake, request, FIN exchange";
    ASSERT_EQ(second.size(), 5u) << "handshake, request, reply";
    EXPECT_EQ(second[0].flags, 0x02);
    EXPECT_EQ(second[0].from, "::1:40001");
    EXPECT_NE(second[0].sequence, first[0].sequence);
    EXPECT_EQ(second[4].payload, kTcpReply);
    expect_one_stream(first);
    expect_one_stream(second);
}

TEST(FrameCaptureTcp, FramesWithoutAConnectionEventStillFormAConversation) {
    CapturePath file;
    const ModbusEndpoint endpoint = parse_tcp_endpoint("192.0.2.9:1502");
    {
        FrameCapture capture(file.path);
        frame(capture, endpoint, WireFrame::Direction::request, kTcpRequest);
        frame(capture, endpoint, WireFrame::Direction::reply, kTcpReply);
    }
    std::vector<Decoded> segments;
    for (const Packet& p : read_capture(file.path)) segments.push_back(decode(p.bytes));
    ASSERT_EQ(segments.size(), 5u);
    EXPECT_EQ(segments[0].flags, 0x02);
    EXPECT_EQ(segments[3].to, "192.0.2.9:1502");
    expect_one_stream(segments);
}

TEST(FrameCaptureRtu, EachLineIsADatagramConversationToTheUnitPort) {
    CapturePath file;
    ModbusEndpoint line_a = parse_rtu_endpoint("/dev/ttyS0:9600");
    ModbusEndpoint line_b = parse_rtu_endpoint("/dev/ttyUSB0:19200:E:7");
    const Bytes request{1, 3, 0x10, 0x00, 0, 2, 0xC0, 0xCB};
    const Bytes reply{1, 3, 4, 0x12, 0x34, 0x56, 0x78, 0x81, 0x07};
    const auto t0 = Clock::now();
    {
        FrameCapture capture(file.path);
        capture.on_event(line_a, event(WireEvent::Kind::connected));
        WireFrame f;
        f.at = t0 + std::chrono::microseconds(1500001);
        f.bytes = request.data();
        f.size = request.size();
        capture.on_frame(line_a, f);
        frame(capture, line_a, WireFrame::Direction::reply, reply);
        frame(capture, line_b, WireFrame::Direction::request, request);
        frame(capture, line_a, WireFrame::Direction::request, request);
        capture.on_event(line_a, event(WireEvent::Kind::closed));
    }
    const std::vector<Packet> packets = read_capture(file.path);
    ASSERT_EQ(packets.size(), 4u) << "the line's events carry nothing";
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(
                        (t0 + std::chrono::microseconds(1500001)).time_since_epoch())
                        .count();
    EXPECT_EQ(packets[0].ts.tv_sec, us / 1000000);
    EXPECT_EQ(packets[0].ts.tv_usec, us % 1000000);
    const char* const ends[][2] = {{"127.0.0.1:50001", "127.0.0.2:5020"},
                                   {"127.0.0.2:5020", "127.0.0.1:50001"},
                                   {"127.0.0.1:50002", "127.0.0.2:5020"},
                                   {"127.0.0.1:50001", "127.0.0.2:5020"}};
    for (std::size_t i = 0; i < packets.size(); ++i) {
        SCOPED_TRACE("packet " + std::to_string(i));
        const Decoded d = decode(packets[i].bytes);
        EXPECT_EQ(d.protocol, 17);
        EXPECT_EQ(d.from, ends[i][0]);
        EXPECT_EQ(d.to, ends[i][1]);
        EXPECT_EQ(d.payload, i == 1 ? reply : request);
    }
}

TEST(FrameCaptureFile, FileThatCannotBeWrittenIsRefusedWithTheReason) {
    const struct {
        std::string path;
        std::string reason;
    } cases[] = {
        {"/nonexistent-folder/c.pcap", "No such file or directory"},
        {"/dev/full", "No space left on device"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        try {
            FrameCapture capture(c.path);
            ADD_FAILURE() << "opened";
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()), "cannot write the capture " + c.path + ": " + c.reason);
        }
    }
}

}  // namespace
