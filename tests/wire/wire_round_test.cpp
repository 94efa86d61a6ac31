#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "catalogue/record_fields.h"
#include "catalogue/signal_catalogue.h"
#include "device_harness.h"
#include "linked_device.h"
#include "null_modem.h"
#include "unit_sim/scenario.h"

namespace {

using unit_sim::RegisterImage;

TEST(WireRound, TcpRoundGivesTheSameRecordAsTheInProcessUnit) {
    const RegisterImage image = unit_sim::scenario_image(unit_sim::default_scenario());
    DeviceHarness local;
    for (int reg = 0; reg < unit_sim::kRegisterCount; ++reg) local.unit.set(reg, image.get(reg));
    local.run_round();

    auto server = tcp_server(image);
    ModbusLink link(tcp_endpoint(server->port()), patient_settings());
    LinkedDevice remote(link);
    ASSERT_TRUE(remote.run_round());
    EXPECT_EQ(remote.device.record(), local.device.record());
    EXPECT_EQ(link.counters().requests, 62u);
    EXPECT_EQ(link.counters().replies, 62u);
    EXPECT_EQ(server->requests_taken(), 62u);
}

TEST(WireRound, RtuOverANullModemAtTheDevicesBaudRate) {
    NullModem modem;
    const RegisterImage image = distinct_image();
    unit_sim::ServerOptions options;
    options.endpoint = parse_rtu_endpoint(modem.device_a() + ":9600:N");
    unit_sim::UnitServer server(image, options);
    server.start();

    ModbusEndpoint endpoint = parse_rtu_endpoint(modem.device_b());
    endpoint.baud = PX46TR_K().baud_rate();
    ASSERT_EQ(endpoint.baud, 9600);
    ModbusLink link(endpoint, patient_settings());
    LinkedDevice remote(link);
    ASSERT_TRUE(remote.run_round());
    EXPECT_EQ(image_bytes(remote.device.record()), expected_image_bytes(image));
}

TEST(WireRound, RtuUnitAddressOtherThanTheSimulatorsGetsNoReply) {
    NullModem modem;
    unit_sim::ServerOptions options;
    options.endpoint = parse_rtu_endpoint(modem.device_a() + ":9600:N:1");
    unit_sim::UnitServer server(distinct_image(), options);
    server.start();
    LinkSettings settings;
    settings.response_timeout = 0.3;
    settings.retries = 0;
    ModbusLink link(parse_rtu_endpoint(modem.device_b() + ":9600:N:2"), settings);
    const LinkResult result = link.transact(ModbusRequest{ModbusRequest::Kind::read_registers, 0, 4, {}});
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(link.counters().timeouts, 1u);
}

// On a serial line a request follows the last reply only after the 3.5 characters of silence that
// end a frame: sent sooner, it runs on from the reply for every other unit of the bus.
TEST(WireRound, RtuRequestWaitsOutTheSilenceAfterTheLastReply) {
    NullModem modem;
    unit_sim::ServerOptions options;
    options.endpoint = parse_rtu_endpoint(modem.device_a() + ":9600:N");
    unit_sim::UnitServer server(distinct_image(), options);
    server.start();
    ModbusLink link(parse_rtu_endpoint(modem.device_b() + ":9600:N"), patient_settings());
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(link.transact(ModbusRequest{ModbusRequest::Kind::read_registers, 0, 4, {}}).ok);
    }
    const long silence_us = 3646;  // 3.5 characters of 10 bits at 9600 baud
    const auto carried = modem.carried();
    int following = 0;  // requests (from end b) right after a reply (from end a)
    for (std::size_t i = 1; i < carried.size(); ++i) {
        if (carried[i].from != 1 || carried[i - 1].from != 0) continue;
        ++following;
        const auto quiet = carried[i].at - carried[i - 1].at;
        EXPECT_GE(std::chrono::duration_cast<std::chrono::microseconds>(quiet).count(), silence_us)
            << "request " << following + 1;
    }
    EXPECT_EQ(following, 2);
}

// One line serving units 1 and 2, each with an image of its own, and a dead unit 4.
unit_sim::ServerOptions line_of_units(ModbusEndpoint endpoint) {
    unit_sim::ServerOptions options;
    options.endpoint = std::move(endpoint);
    options.units[1].image = distinct_image(0);
    options.units[2].image = distinct_image(100);
    options.units[4] = {distinct_image(200), {}, true};
    return options;
}

// Each unit of a line answers a whole round from its own image, over either transport; a dead
// unit and an id the line does not serve get no reply, and on TCP 0 and 255 reach the lowest id.
TEST(WireUnits, EachUnitOfALineAnswersFromItsOwnImage) {
    NullModem modem;
    unit_sim::UnitServer tcp(line_of_units(tcp_endpoint(0)));
    unit_sim::UnitServer rtu(line_of_units(parse_rtu_endpoint(modem.device_a() + ":9600")));
    tcp.start();
    rtu.start();
    const struct {
        bool over_tcp;
        int unit;
        int salt;  // of the image answered; -1: no reply
    } cases[] = {
        {true, 1, 0}, {true, 2, 100}, {true, 4, -1},   {true, 3, -1},  {true, 255, 0},
        {true, 0, 0}, {false, 1, 0},  {false, 2, 100}, {false, 4, -1}, {false, 3, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.over_tcp ? "tcp" : "rtu") + " unit " + std::to_string(c.unit));
        ModbusEndpoint endpoint =
            c.over_tcp ? tcp_endpoint(tcp.port()) : parse_rtu_endpoint(modem.device_b() + ":9600");
        endpoint.unit = c.unit;
        LinkSettings settings = patient_settings();
        if (c.salt < 0) settings.response_timeout = 0.3;
        ModbusLink link(endpoint, settings);
        LinkedDevice d(link);
        if (c.salt < 0) {
            EXPECT_FALSE(d.run_round());
            EXPECT_EQ(link.counters().timeouts, 1u);
        } else {
            ASSERT_TRUE(d.run_round());
            EXPECT_EQ(image_bytes(d.device.record()), expected_image_bytes(distinct_image(c.salt)));
        }
    }
    // Three rounds reached unit 1 over TCP (by its id, by 255 and by 0); the dead unit heard one
    // request on each line, the unserved id none.
    EXPECT_EQ(tcp.requests_taken(1), 3 * 62u);
    EXPECT_EQ(tcp.requests_taken(2), 62u);
    EXPECT_EQ(tcp.requests_taken(4), 1u);
    EXPECT_EQ(tcp.requests_taken(3), 0u);
    EXPECT_EQ(tcp.requests_taken(), 4 * 62u + 1);
    EXPECT_EQ(rtu.requests_taken(1), 62u);
    EXPECT_EQ(rtu.requests_taken(2), 62u);
    EXPECT_EQ(rtu.requests_taken(4), 1u);
    EXPECT_EQ(rtu.get(2, 7465), distinct_image(100).get(7465));
}

// A unit's own faults count the requests to that unit, the line's every request it takes.
TEST(WireUnits, UnitFaultsCountTheUnitsOwnRequests) {
    unit_sim::ServerOptions options = line_of_units(tcp_endpoint(0));
    options.faults.exception_every = 4;  // server device failure on the line's fourth request
    options.units[2].faults.exception_every = 3;
    options.units[2].faults.exception_code = 6;
    unit_sim::UnitServer server(options);
    server.start();
    ModbusLink links[] = {
        {tcp_endpoint(server.port()), patient_settings()},
        {parse_tcp_endpoint("127.0.0.1:" + std::to_string(server.port()) + ":2"), patient_settings()}};
    // Units 1, 2, 2, 1, 2, 1: unit 2's third request is the line's fifth.
    std::vector<int> codes;  // each answer: 0 for registers, else its exception code
    for (const int unit : {1, 2, 2, 1, 2, 1}) {
        const LinkResult result =
            links[unit - 1].transact(ModbusRequest{ModbusRequest::Kind::read_registers, 0, 1, {}});
        codes.push_back(result.ok ? 0 : result.exception_code);
    }
    EXPECT_EQ(codes, (std::vector<int>{0, 0, 0, 4, 6, 0}));
}

TEST(WireRound, DriftingUnitMovesBetweenRoundsAndCountsEnergyUp) {
    const RegisterImage image = unit_sim::scenario_image(unit_sim::default_scenario());
    unit_sim::ServerOptions options;
    options.endpoint = tcp_endpoint(0);
    options.drift = true;
    unit_sim::UnitServer server(image, options);
    server.start();
    ModbusLink link(tcp_endpoint(server.port()), patient_settings());
    LinkedDevice remote(link);
    const auto energy = [&](const std::vector<std::uint8_t>& record) {
        return px46tr_k::read_s32(record.data() + 12 + px46tr_k::inline_field::kEnergy);
    };
    ASSERT_TRUE(remote.run_round());
    const auto first = remote.device.record();
    ASSERT_TRUE(remote.run_round());
    const auto second = remote.device.record();
    EXPECT_NE(image_bytes(first), image_bytes(second));
    EXPECT_GT(energy(second), energy(first));
    EXPECT_GT(energy(first), image.get_s32(px46tr_k::register_at(12 + px46tr_k::inline_field::kEnergy)));
}

TEST(WireWrites, SingleAndMultipleWritesAreConfirmedByTheSimulator) {
    auto server = tcp_server(distinct_image());
    ModbusLink link(tcp_endpoint(server->port()), patient_settings());
    LinkedDevice d(link);

    d.device.OpenPort();
    d.device.step_ = px46tr_k::kControlWriteRegister;
    d.device.write_transaction().write_expect_ = 0x0bcd;
    d.device.modbus_write_register(4099, 0x0bcd);
    d.pump.pump_all();
    EXPECT_EQ(d.device.write_transaction().write_result_, px46tr_k::kWriteConfirmed);
    EXPECT_EQ(server->get(4099), 0x0bcd);

    const unsigned short states[] = {3, 0, 2};
    d.device.OpenPort();
    d.device.step_ = px46tr_k::kControlWriteRegisters;
    d.device.write_transaction().write_result_ = px46tr_k::kWritePending;
    d.device.write_transaction().write_expect_ = 3;
    d.device.modbus_write_registers(4103, 3, states);
    d.pump.pump_all();
    EXPECT_EQ(d.device.write_transaction().write_result_, px46tr_k::kWriteConfirmed);
    EXPECT_EQ(server->get(4103), 3);
    EXPECT_EQ(server->get(4105), 2);

    ASSERT_TRUE(d.run_round());
    const auto record = d.device.record();
    EXPECT_EQ(px46tr_k::read_u16(record.data() + px46tr_k::feeder_switch_state_offset(1)), 3);
    EXPECT_EQ(px46tr_k::read_u16(record.data() + 3530), 0x0bcd) << "register 4099";
}

// A unit on loopback TCP that answers one connection's single writes (function 06) with the
// register it was asked for but another value: a unit that did not take the value.
class UnitEchoingAnotherValue {
public:
    UnitEchoingAnotherValue() {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        bind(listener_, reinterpret_cast<sockaddr*>(&address), length);
        listen(listener_, 1);
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] {
            const int fd = accept(listener_, nullptr, nullptr);
            unsigned char frame[12];
            while (fd >= 0 && recv(fd, frame, sizeof frame, MSG_WAITALL) == sizeof frame) {
                frame[11] ^= 0xff;  // MBAP header (7), function, register (2), value (2)
                send(fd, frame, sizeof frame, MSG_NOSIGNAL);
            }
            if (fd >= 0) close(fd);
        });
    }
    ~UnitEchoingAnotherValue() {
        shutdown(listener_, SHUT_RDWR);
        thread_.join();
        close(listener_);
    }
    int port() const { return port_; }

private:
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
};

TEST(WireWrites, UnitEchoingAnotherValueIsNotConfirmed) {
    UnitEchoingAnotherValue unit;
    ModbusLink link(tcp_endpoint(unit.port()), patient_settings());
    LinkedDevice d(link);
    d.device.OpenPort();
    d.device.step_ = px46tr_k::kControlWriteRegister;
    d.device.write_transaction().write_expect_ = 0x1234;
    d.device.modbus_write_register(4099, 0x1234);
    d.pump.pump_all();
    EXPECT_EQ(d.device.write_transaction().write_result_, px46tr_k::kWriteRefused);
    EXPECT_EQ(link.counters().replies, 1u);
}

TEST(WireWrites, WriteOutsideTheMapIsRefusedAndNotConfirmed) {
    auto server = tcp_server(distinct_image());
    LinkSettings settings = patient_settings();
    settings.retries = 2;
    ModbusLink link(tcp_endpoint(server->port()), settings);
    LinkedDevice d(link);
    d.device.OpenPort();
    d.device.step_ = px46tr_k::kControlWriteRegister;
    d.device.write_transaction().write_expect_ = 1;
    d.device.modbus_write_register(2000, 1);
    d.pump.pump_all();
    EXPECT_EQ(d.pump.failed(), 1u) << "the refused write reaches the device as a failed request";
    EXPECT_EQ(d.device.write_transaction().write_result_, px46tr_k::kWritePending);
    EXPECT_EQ(link.counters().exceptions, 1u);
    EXPECT_EQ(link.counters().retries, 0u) << "an exception reply is not retried";
}

TEST(WireLink, ReadsOutsideTheMapGetIllegalDataAddress) {
    auto server = tcp_server(distinct_image());
    ModbusLink link(tcp_endpoint(server->port()), patient_settings());
    const auto read = [&](int start, int count) {
        return link.transact(ModbusRequest{ModbusRequest::Kind::read_registers, start, count, {}});
    };
    const LinkResult across = read(1750, 20);
    EXPECT_FALSE(across.ok);
    EXPECT_NE(across.error.find("unit 1 answered exception 02 (illegal data address)"), std::string::npos)
        << across.error;
    EXPECT_FALSE(read(7466, 1).ok);
    EXPECT_FALSE(read(4249, 1).ok);
    const LinkResult last = read(7460, 6);
    ASSERT_TRUE(last.ok) << last.error;
    EXPECT_EQ(last.words.size(), 6u);
    EXPECT_EQ(last.words[5], static_cast<std::uint16_t>(7465 * 7 + 0x1234));
    EXPECT_EQ(link.counters().exceptions, 3u);
    EXPECT_EQ(link.counters().failures, 3u);
    EXPECT_TRUE(link.connected()) << "an exception reply does not drop the connection";
}

// A raw Modbus TCP connection to a server on loopback.
class RawConnection {
public:
    explicit RawConnection(int port) {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        timeval patience{5, 0};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    }
    ~RawConnection() { close(fd_); }
    void send_frame(const std::vector<std::uint8_t>& frame) {
        send(fd_, frame.data(), frame.size(), MSG_NOSIGNAL);
    }
    // The next reply, framed by its MBAP length; empty when the connection closed or stayed silent.
    std::vector<std::uint8_t> reply() {
        std::vector<std::uint8_t> frame(6);
        if (recv(fd_, frame.data(), 6, MSG_WAITALL) != 6) return {};
        frame.resize(6 + ((frame[4] << 8) | frame[5]));
        const auto rest = static_cast<ssize_t>(frame.size() - 6);
        if (recv(fd_, frame.data() + 6, frame.size() - 6, MSG_WAITALL) != rest) return {};
        return frame;
    }

private:
    int fd_ = -1;
};

TEST(WireLink, RawFramesGetTheAnswersOfAModbusServer) {
    auto server = tcp_server(distinct_image());
    // Each frame, then a read of register 0 (transaction 0x7777): a frame that must go unanswered
    // shows as the read's reply coming first, and a frame that broke the framing as no reply.
    struct Case {
        const char* what;
        std::vector<std::uint8_t> request;
        std::vector<std::uint8_t> reply;  // empty: none
    };
    const Case cases[] = {
        {"read exception status (07), no data",
         {0, 1, 0, 0, 0, 2, 1, 0x07},
         {0, 1, 0, 0, 0, 3, 1, 0x87, 0x01}},
        {"read device identification (2B)",
         {0, 2, 0, 0, 0, 5, 1, 0x2B, 0x0E, 0x01, 0x00},
         {0, 2, 0, 0, 0, 3, 1, 0xAB, 0x01}},
        {"read coils (01)", {0, 3, 0, 0, 0, 6, 1, 0x01, 0, 0, 0, 1}, {0, 3, 0, 0, 0, 3, 1, 0x81, 0x01}},
        {"read short of its count", {0, 4, 0, 0, 0, 4, 1, 0x03, 0, 0}, {0, 4, 0, 0, 0, 3, 1, 0x83, 0x03}},
        {"unit 0xFF",
         {0, 5, 0, 0, 0, 6, 0xFF, 0x03, 0, 1, 0, 1},
         {0, 5, 0, 0, 0, 5, 0xFF, 0x03, 2, 0x12, 0x3B}},
        {"unit 0", {0, 6, 0, 0, 0, 6, 0, 0x03, 0, 1, 0, 1}, {0, 6, 0, 0, 0, 5, 0, 0x03, 2, 0x12, 0x3B}},
        {"another unit", {0, 7, 0, 0, 0, 6, 2, 0x03, 0, 1, 0, 1}, {}},
        {"protocol identifier 1", {0, 8, 0, 1, 0, 6, 1, 0x03, 0, 1, 0, 1}, {}},
    };
    const std::vector<std::uint8_t> probe{0x77, 0x77, 0, 0, 0, 6, 1, 0x03, 0, 0, 0, 1};
    const std::vector<std::uint8_t> probe_reply{0x77, 0x77, 0, 0, 0, 5, 1, 0x03, 2, 0x12, 0x34};
    RawConnection connection(server->port());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        connection.send_frame(c.request);
        connection.send_frame(probe);
        if (!c.reply.empty()) {
            EXPECT_EQ(connection.reply(), c.reply);
        }
        ASSERT_EQ(connection.reply(), probe_reply) << "the connection stays in step";
    }
}

// The serial end of a null modem, written and read a frame at a time.
class RawSerial {
public:
    explicit RawSerial(const std::string& device) : fd_(open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {
        if (fd_ < 0) throw std::runtime_error("cannot open " + device);
    }
    ~RawSerial() { close(fd_); }
    // Sends the frame with its CRC added.
    void send_frame(std::vector<std::uint8_t> frame) {
        std::uint16_t crc = 0xFFFF;
        for (const std::uint8_t byte : frame) {
            crc ^= byte;
            for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
        }
        frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
        frame.push_back(static_cast<std::uint8_t>(crc >> 8));
        send_bytes(frame);
    }
    void send_bytes(const std::vector<std::uint8_t>& bytes) { (void)!write(fd_, bytes.data(), bytes.size()); }
    // A reply of `length` bytes without its CRC, waiting up to 5 s for each byte; or, for a length
    // of 0, the bytes that come before the line has been quiet for 0.3 s (none, if all is well).
    std::vector<std::uint8_t> reply(std::size_t length) {
        std::vector<std::uint8_t> bytes;
        const std::size_t wanted = length == 0 ? SIZE_MAX : length + 2;
        for (pollfd wait{fd_, POLLIN, 0};
             bytes.size() < wanted && poll(&wait, 1, length == 0 ? 300 : 5000) > 0;) {
            std::uint8_t byte = 0;
            if (read(fd_, &byte, 1) != 1) break;
            bytes.push_back(byte);
        }
        return bytes;
    }

private:
    int fd_;
};

// Every unit of an RTU line hears every frame and answers its own: each frame, then a read of
// unit 1's register 0, whose reply shows the line still in step.
TEST(WireLink, RawRtuFramesReachOnlyTheUnitsServed) {
    NullModem modem;
    unit_sim::UnitServer server(line_of_units(parse_rtu_endpoint(modem.device_a() + ":9600")));
    server.start();
    RawSerial line(modem.device_b());
    const struct {
        const char* what;
        std::vector<std::uint8_t> request;  // without its CRC
        std::vector<std::uint8_t> reply;    // without its CRC; empty: none
        bool garbled = false;               // the CRC is spoilt
    } cases[] = {
        {"unit 2 reads its own register", {2, 0x03, 0, 1, 0, 1}, {2, 0x03, 2, 0x12, 0x9F}},
        {"unit 1 writes a register", {1, 0x06, 0x01, 0x2C, 0, 9}, {1, 0x06, 0x01, 0x2C, 0, 9}},
        {"unit 2 writes two", {2, 0x10, 0x01, 0x2C, 0, 2, 4, 0, 7, 0, 8}, {2, 0x10, 0x01, 0x2C, 0, 2}},
        {"dead unit 4", {4, 0x03, 0, 1, 0, 1}, {}},
        {"unit 3 is not served", {3, 0x03, 0, 1, 0, 1}, {}},
        {"broadcast", {0, 0x06, 0x01, 0x2C, 0, 5}, {}},
        {"garbled", {1, 0x03, 0, 1, 0, 1}, {}, true},
        {"read device identification (2B)", {1, 0x2B, 0x0E, 0x01, 0x00}, {1, 0xAB, 0x01}},
        {"diagnostics (08)", {2, 0x08, 0, 0, 0x12, 0x34}, {2, 0x88, 0x01}},
        {"a function of unknown length", {1, 0x41, 1, 2, 3, 4, 5}, {}},
    };
    const std::vector<std::uint8_t> probe{1, 0x03, 0, 0, 0, 1};
    const std::vector<std::uint8_t> probe_reply{1, 0x03, 2, 0x12, 0x34};
    const auto without_crc = [](std::vector<std::uint8_t> frame) {
        if (frame.size() >= 2) frame.resize(frame.size() - 2);
        return frame;
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.garbled) {
            std::vector<std::uint8_t> bytes = c.request;
            bytes.insert(bytes.end(), {0xDE, 0xAD});
            line.send_bytes(bytes);
        } else {
            line.send_frame(c.request);
        }
        EXPECT_EQ(without_crc(line.reply(c.reply.size())), c.reply);
        line.send_frame(probe);
        ASSERT_EQ(without_crc(line.reply(probe_reply.size())), probe_reply) << "the line stays in step";
    }
    EXPECT_EQ(server.get(1, 300), 9);
    EXPECT_EQ(server.get(2, 300), 7);
    EXPECT_EQ(server.get(2, 301), 8);
    EXPECT_EQ(server.get(1, 301), distinct_image(0).get(301)) << "unit 2's write stays with unit 2";
}

// The fault the device's check of a write confirmation is tried against: a write of multiple
// registers is applied and confirmed with a count one more than written, on both transports,
// with the frame's CRC right on RTU; a single write is confirmed as ever.
TEST(WireFaults, WrongWriteCountConfirmsOneMoreRegisterThanWritten) {
    unit_sim::Faults faults;
    faults.wrong_write_count = true;
    {
        auto server = tcp_server(distinct_image(), faults);
        RawConnection connection(server->port());
        connection.send_frame({0, 9, 0, 0, 0, 11, 1, 0x10, 0x01, 0x2C, 0, 2, 4, 0, 7, 0, 8});
        EXPECT_EQ(connection.reply(),
                  (std::vector<std::uint8_t>{0, 9, 0, 0, 0, 6, 1, 0x10, 0x01, 0x2C, 0, 3}));
        connection.send_frame({0, 10, 0, 0, 0, 6, 1, 0x06, 0x01, 0x2F, 0, 9});
        EXPECT_EQ(connection.reply(),
                  (std::vector<std::uint8_t>{0, 10, 0, 0, 0, 6, 1, 0x06, 0x01, 0x2F, 0, 9}));
        EXPECT_EQ(server->get(300), 7);
        EXPECT_EQ(server->get(301), 8);
        EXPECT_EQ(server->get(302), distinct_image().get(302)) << "no register beyond the written ones";
    }
    NullModem modem;
    unit_sim::ServerOptions options;
    options.endpoint = parse_rtu_endpoint(modem.device_a() + ":9600");
    options.faults = faults;
    unit_sim::UnitServer server(distinct_image(), options);
    server.start();
    const int line = open(modem.device_b().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(line, 0);
    const std::uint8_t request[] = {1, 0x10, 0x01, 0x2C, 0, 2, 4, 0, 7, 0, 8, 0x4C, 0x75};
    ASSERT_EQ(write(line, request, sizeof request), static_cast<ssize_t>(sizeof request));
    std::vector<std::uint8_t> reply;
    for (pollfd wait{line, POLLIN, 0}; reply.size() < 8 && poll(&wait, 1, 5000) > 0;) {
        std::uint8_t byte = 0;
        if (read(line, &byte, 1) != 1) break;
        reply.push_back(byte);
    }
    close(line);
    EXPECT_EQ(reply, (std::vector<std::uint8_t>{1, 0x10, 0x01, 0x2C, 0, 3, 0x40, 0x3D}));
    EXPECT_EQ(server.get(300), 7);
    EXPECT_EQ(server.get(301), 8);
}

}  // namespace
