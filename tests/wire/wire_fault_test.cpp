#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

#include "linked_device.h"
#include "null_modem.h"

namespace {

using unit_sim::Faults;
using unit_sim::RegisterImage;
using Clock = std::chrono::steady_clock;

// Runs `before(n)` ahead of the link's n-th request (from 0).
class HookedLink : public BusLink {
public:
    HookedLink(BusLink& inner, std::function<void(std::size_t)> before)
        : inner_(inner), before_(std::move(before)) {}
    LinkResult transact(const ModbusRequest& request) override {
        before_(taken_++);
        return inner_.transact(request);
    }

private:
    BusLink& inner_;
    std::function<void(std::size_t)> before_;
    std::size_t taken_ = 0;
};

// One round, to its end or to the failed request that stops it.
struct RoundOutcome {
    bool completed;
    std::size_t failures;  // failed requests handed to the device
};

RoundOutcome run_round_counting_failures(LinkedDevice& d) {
    const std::size_t failed_before = d.pump.failed();
    const bool completed = d.run_round();
    return {completed, d.pump.failed() - failed_before};
}

LinkSettings settings_with(double timeout, int retries) {
    LinkSettings settings;
    settings.response_timeout = timeout;
    settings.retries = retries;
    return settings;
}

std::unique_ptr<unit_sim::UnitServer> rtu_server(const NullModem& modem, const RegisterImage& image,
                                                 Faults faults) {
    unit_sim::ServerOptions options;
    options.endpoint = parse_rtu_endpoint(modem.device_a() + ":9600");
    options.faults = faults;
    auto server = std::make_unique<unit_sim::UnitServer>(image, options);
    server->start();
    return server;
}

ModbusEndpoint rtu_endpoint(const NullModem& modem) { return parse_rtu_endpoint(modem.device_b() + ":9600"); }

TEST(WireFaults, ExceptionReplyStopsTheRoundAndKeepsTheLastCompletedOne) {
    Faults faults;
    faults.exception_every = 62 + 5;  // the fifth request of the second round
    auto server = tcp_server(distinct_image(), faults);
    ModbusLink link(tcp_endpoint(server->port()), settings_with(5, 1));
    LinkedDevice d(link);
    ASSERT_TRUE(d.run_round());
    const auto completed_at = d.device.update_time_;
    d.clock.advance(10);

    const RoundOutcome round = run_round_counting_failures(d);
    EXPECT_FALSE(round.completed);
    EXPECT_EQ(round.failures, 1u);
    EXPECT_EQ(d.device.step_, 15) << "the round stops at the step reached";
    EXPECT_EQ(d.calls.named("SendSP").size(), 1u);
    EXPECT_TRUE(d.device.data_ready_);
    EXPECT_EQ(d.device.update_time_, completed_at);
    EXPECT_EQ(link.counters().exceptions, 1u);
    EXPECT_EQ(link.counters().retries, 0u);
    const std::string& failure = link.counters().last_failure;
    EXPECT_EQ(failure.rfind("read ", 0), 0u) << "names the request: " << failure;
    EXPECT_NE(failure.find("unit 1 answered exception 04 (server device failure)"), std::string::npos)
        << failure;
    EXPECT_EQ(link.counters().failures, 1u);
    EXPECT_EQ(d.pump.last_failure().failure, LinkFailure::exception);
    EXPECT_EQ(d.pump.last_failure().exception_code, 4);

    EXPECT_TRUE(d.run_round()) << "the next round completes";
}

TEST(WireFaults, DelayedReplyPastTheTimeOutIsRetriedOnAFreshConnection) {
    Faults faults;
    faults.delay_ms = 4000;
    faults.delay_every = 40;
    const RegisterImage image = distinct_image();
    auto server = tcp_server(image, faults);
    ModbusLink link(tcp_endpoint(server->port()), settings_with(1, 1));
    LinkedDevice d(link);
    ASSERT_TRUE(d.run_round());
    EXPECT_EQ(image_bytes(d.device.record()), expected_image_bytes(image));
    EXPECT_EQ(link.counters().timeouts, 1u);
    EXPECT_EQ(link.counters().retries, 1u);
    EXPECT_EQ(link.counters().reconnects, 1u);
    EXPECT_EQ(link.counters().failures, 0u);
}

TEST(WireFaults, DelayedReplyWithoutRetriesAbandonsTheRoundAndIsNeverTakenLater) {
    Faults faults;
    faults.delay_ms = 4000;
    faults.delay_every = 62 + 30;  // the thirtieth request of the second round
    const RegisterImage image = distinct_image();
    auto server = tcp_server(image, faults);
    ModbusLink link(tcp_endpoint(server->port()), settings_with(1, 0));
    LinkedDevice d(link);
    ASSERT_TRUE(d.run_round());
    const RoundOutcome round = run_round_counting_failures(d);
    EXPECT_FALSE(round.completed);
    EXPECT_EQ(round.failures, 1u);
    EXPECT_EQ(d.device.step_, 11 + 29);
    EXPECT_EQ(link.counters().timeouts, 1u);
    EXPECT_NE(link.counters().last_failure.find(": no reply from unit 1 within 1 s"), std::string::npos)
        << link.counters().last_failure;
    EXPECT_EQ(d.pump.last_failure().failure, LinkFailure::timeout);

    ASSERT_TRUE(d.run_round());
    EXPECT_EQ(image_bytes(d.device.record()), expected_image_bytes(image));
    EXPECT_EQ(link.counters().reconnects, 1u);
}

TEST(WireFaults, DroppedSerialReplyIsRecoveredByARetry) {
    NullModem modem;
    Faults faults;
    faults.drop_every = 40;
    const RegisterImage image = distinct_image();
    auto server = rtu_server(modem, image, faults);
    ModbusLink link(rtu_endpoint(modem), settings_with(1, 1));
    LinkedDevice d(link);
    ASSERT_TRUE(d.run_round());
    EXPECT_EQ(image_bytes(d.device.record()), expected_image_bytes(image));
    EXPECT_EQ(link.counters().timeouts, 1u);
    EXPECT_EQ(link.counters().retries, 1u);
}

TEST(WireFaults, LateSerialReplyIsDrainedNotTakenForALaterRequest) {
    NullModem modem;
    Faults faults;
    faults.delay_ms = 1500;  // past the 1 s time-out, within the quiet wait that follows it
    faults.delay_every = 40;
    const RegisterImage image = distinct_image();
    auto server = rtu_server(modem, image, faults);
    ModbusLink link(rtu_endpoint(modem), settings_with(1, 1));
    LinkedDevice d(link);
    ASSERT_TRUE(d.run_round());
    EXPECT_EQ(image_bytes(d.device.record()), expected_image_bytes(image));
    EXPECT_EQ(link.counters().timeouts, 1u);
    EXPECT_EQ(server->requests_taken(), 63u);
}

TEST(WireFaults, SimulatorStopsMidRoundAndTheRoundAfterARestartCompletes) {
    const RegisterImage before = distinct_image(0);
    const RegisterImage after = distinct_image(1);
    auto server = tcp_server(before);
    const int port = server->port();
    LinkSettings settings = settings_with(5, 1);
    settings.reconnect_min = 0.2;
    ModbusLink real(tcp_endpoint(port), settings);
    HookedLink link(real, [&](std::size_t n) {
        if (n == 62 + 20) server->stop();
    });
    LinkedDevice d(link);
    ASSERT_TRUE(d.run_round());
    const auto completed_at = d.device.update_time_;

    const RoundOutcome round = run_round_counting_failures(d);
    EXPECT_FALSE(round.completed);
    EXPECT_EQ(round.failures, 1u);
    EXPECT_EQ(d.device.step_, 11 + 20);
    EXPECT_EQ(d.calls.named("SendSP").size(), 1u);
    EXPECT_EQ(d.device.update_time_, completed_at);
    EXPECT_FALSE(real.connected());

    server = tcp_server(after, {}, port);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the back-off after the failed connection
    ASSERT_TRUE(d.run_round());
    EXPECT_EQ(image_bytes(d.device.record()), expected_image_bytes(after));
    EXPECT_EQ(real.counters().reconnects, 1u);
}

TEST(WireFaults, FailedConnectionBacksOffWithoutTouchingTheLine) {
    int port = 0;
    {
        auto probe = tcp_server(distinct_image());
        port = probe->port();
    }  // nothing listens there now
    LinkSettings settings = settings_with(5, 1);
    settings.reconnect_min = 0.5;
    settings.reconnect_max = 1;
    ModbusLink link(tcp_endpoint(port), settings);
    const ModbusRequest read{ModbusRequest::Kind::read_registers, 0, 4, {}};

    const LinkResult refused = link.transact(read);
    EXPECT_FALSE(refused.ok);
    EXPECT_NE(refused.error.find("next attempt in 0.5 s"), std::string::npos) << refused.error;
    std::this_thread::sleep_for(std::chrono::milliseconds(550));
    const LinkResult again = link.transact(read);
    EXPECT_NE(again.error.find("next attempt in 1.0 s"), std::string::npos) << again.error;

    auto server = tcp_server(distinct_image(), {}, port);
    const auto started = Clock::now();
    const LinkResult waiting = link.transact(read);
    EXPECT_FALSE(waiting.ok) << "no attempt before the back-off has passed, though the unit is back";
    EXPECT_NE(waiting.error.find("no connection"), std::string::npos) << waiting.error;
    EXPECT_LT(Clock::now() - started, std::chrono::milliseconds(500));
    EXPECT_EQ(server->requests_taken(), 0u);

    std::this_thread::sleep_for(std::chrono::milliseconds(1050));
    EXPECT_TRUE(link.transact(read).ok);
    EXPECT_EQ(link.counters().failures, 3u);
    EXPECT_EQ(link.counters().retries, 0u) << "a refused connection is not retried at once";
}

// Holds every descriptor below FD_SETSIZE, so that the next one opened is at or above it.
class LowDescriptorsTaken {
public:
    LowDescriptorsTaken() {
        rlimit limit{};
        getrlimit(RLIMIT_NOFILE, &limit);
        if (limit.rlim_cur < FD_SETSIZE + 64 && limit.rlim_max >= FD_SETSIZE + 64) {
            limit.rlim_cur = FD_SETSIZE + 64;
            setrlimit(RLIMIT_NOFILE, &limit);
        }
        for (;;) {
            const int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
            if (fd < 0) return;
            held_.push_back(fd);
            if (fd >= FD_SETSIZE - 1) {
                ok_ = fd == FD_SETSIZE - 1;
                return;
            }
        }
    }
    ~LowDescriptorsTaken() { release(); }
    void release() {
        for (int fd : held_) close(fd);
        held_.clear();
    }
    bool ok() const { return ok_; }

private:
    std::vector<int> held_;
    bool ok_ = false;
};

TEST(WireLimits, TcpSocketAtOrAboveFdSetSizeIsRefused) {
    auto server = tcp_server(distinct_image());
    LinkSettings settings = settings_with(5, 0);
    settings.reconnect_min = 0;
    ModbusLink link(tcp_endpoint(server->port()), settings);
    const ModbusRequest read{ModbusRequest::Kind::read_registers, 0, 4, {}};
    LowDescriptorsTaken taken;
    if (!taken.ok()) GTEST_SKIP() << "cannot open descriptors up to FD_SETSIZE here";
    const LinkResult refused = link.transact(read);
    EXPECT_FALSE(refused.ok);
    EXPECT_NE(refused.error.find("FD_SETSIZE"), std::string::npos) << refused.error;
    taken.release();
    EXPECT_TRUE(link.transact(read).ok);
}

TEST(WireLimits, SerialDeviceAtOrAboveFdSetSizeIsRefused) {
    NullModem modem;
    LinkSettings settings = settings_with(5, 0);
    ModbusLink link(rtu_endpoint(modem), settings);
    LowDescriptorsTaken taken;
    if (!taken.ok()) GTEST_SKIP() << "cannot open descriptors up to FD_SETSIZE here";
    const LinkResult refused = link.transact(ModbusRequest{ModbusRequest::Kind::read_registers, 0, 4, {}});
    EXPECT_FALSE(refused.ok);
    EXPECT_NE(refused.error.find("FD_SETSIZE"), std::string::npos) << refused.error;
}

}  // namespace
