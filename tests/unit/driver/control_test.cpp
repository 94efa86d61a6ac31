#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <json/reader.h>

#include "device_harness.h"
#include "scripted_link.h"

namespace {

constexpr int kOutcomeCode = 5;  // a code the device does not list: reads the write outcome back

std::vector<std::uint8_t> words(std::initializer_list<std::uint16_t> values) {
    std::vector<std::uint8_t> bytes(values.size() * 2);
    std::size_t i = 0;
    for (const std::uint16_t v : values) std::memcpy(&bytes[2 * i++], &v, 2);
    return bytes;
}

struct Control {
    int result;
    int out_len;
};

Control control(TestDevice& device, int code, const std::vector<std::uint8_t>& in, void* out, int out_size) {
    int out_len = -99;
    const int result = device.DeviceIoControl(code, in.empty() ? nullptr : in.data(),
                                              static_cast<int>(in.size()), out, out_size, out_len);
    return {result, out_len};
}

std::int32_t write_outcome(TestDevice& device) {
    std::int32_t outcome = 77;
    const Control c = control(device, kOutcomeCode, {}, &outcome, sizeof outcome);
    EXPECT_EQ(c.out_len, 4);
    return outcome;
}

// --- Register writes -----------------------------------------------------------------------------

TEST(ControlWrites, SingleWriteIsConfirmedAndReadBack) {
    DeviceHarness h;
    EXPECT_EQ(control(h.device, 206, words({5000, 1}), nullptr, 0).result, 0);
    EXPECT_EQ(h.device.step_, 206);
    EXPECT_EQ(h.device.write_transaction().write_expect_, 1);
    EXPECT_EQ(write_outcome(h.device), -1) << "not yet answered";
    const auto writes = h.calls.named("modbus_write_register");
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].args[0], 5000);
    EXPECT_EQ(writes[0].args[1], 1);

    h.pump.pump_all();
    EXPECT_EQ(h.unit.get(5000), 1);
    h.calls.clear();
    EXPECT_EQ(write_outcome(h.device), 1);
    ASSERT_EQ(h.calls.named("DeviceIoControl").size(), 1u) << "the host's handler runs after";
}

TEST(ControlWrites, MismatchingReplyIsReadBackAsRefused) {
    DeviceHarness h;
    ScriptedLink link(h.unit);
    link.script = [](std::size_t, const ModbusRequest&, LinkResult& r) { r.words = {0}; };
    BusPump pump(h.device, link);
    control(h.device, 206, words({5000, 1}), nullptr, 0);
    pump.pump_all();
    EXPECT_EQ(write_outcome(h.device), 3);
}

TEST(ControlWrites, MultipleWriteIgnoresAnOddByte) {
    DeviceHarness h;
    auto in = words({300, 0x1111, 0x2222});
    in.push_back(0xee);
    EXPECT_EQ(control(h.device, 210, in, nullptr, 0).result, 0);
    EXPECT_EQ(h.device.write_transaction().write_expect_, 2);
    const auto writes = h.calls.named("modbus_write_registers");
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].args[0], 300);
    EXPECT_EQ(writes[0].args[1], 2);
    EXPECT_EQ(writes[0].args[2], "11112222");
    h.pump.pump_all();
    EXPECT_EQ(h.unit.get(301), 0x2222);
    EXPECT_EQ(h.unit.get(302), 0);
    EXPECT_EQ(write_outcome(h.device), 1);
}

TEST(ControlWrites, AWriteAbandonsTheRoundInProgress) {
    DeviceHarness h;
    h.device.RefreshStatus();
    h.pump.pump_one();
    control(h.device, 206, words({7000, 9}), nullptr, 0);
    h.pump.pump_all();
    EXPECT_EQ(h.calls.named("SendSP").size(), 0u);
    EXPECT_EQ(h.calls.named("modbus_read_registers").size(), 2u);
    EXPECT_EQ(write_outcome(h.device), 1);
}

TEST(ControlWrites, LongestWriteIsTheModbusLimit) {
    DeviceHarness h;
    std::vector<std::uint8_t> in = words({100});
    in.resize(2 + 2 * 123, 0x01);
    EXPECT_EQ(control(h.device, 210, in, nullptr, 0).result, 0);
    EXPECT_EQ(h.device.write_transaction().write_expect_, 123);
    h.pump.pump_all();
    EXPECT_EQ(h.unit.get(222), 0x0101);
    EXPECT_EQ(write_outcome(h.device), 1);
}

// --- Bad input -----------------------------------------------------------------------------------

TEST(ControlBadInput, IsRefusedWithoutTouchingAnything) {
    struct Case {
        const char* what;
        int code;
        std::vector<std::uint8_t> in;
        bool null_in;
        int in_len;  // -1: the size of `in`
        bool null_out;
        int out_size;
    };
    const std::vector<std::uint8_t> two_words = words({5000, 1});
    std::vector<std::uint8_t> too_many = words({100});
    too_many.resize(2 + 2 * 124);
    const Case cases[] = {
        {"206 with 3 bytes", 206, {1, 2, 3}, false, -1, false, 0},
        {"206 with no input", 206, {}, true, 0, false, 0},
        {"210 with an address only", 210, {1, 2}, false, -1, false, 0},
        {"210 with 3 bytes", 210, {1, 2, 3}, false, -1, false, 0},
        {"210 with 124 values", 210, too_many, false, -1, false, 0},
        {"206 with null input", 206, {}, true, 4, false, 0},
        {"210 with negative length", 210, two_words, false, -4, false, 0},
        {"310 with null input", 310, {}, true, 2, false, 0},
        {"320 with negative output size", 320, {}, true, 0, false, -1},
        {"801 with null output", 801, {}, true, 0, true, 4096},
        {"803 with null output", 803, {}, true, 0, true, 8},
        {"other with null output", kOutcomeCode, {}, true, 0, true, 4},
    };
    for (const auto& c : cases) {
        DeviceHarness h;
        h.run_round();
        h.device.step_ = 12;
        h.device.write_transaction().write_result_ = 1;
        h.calls.clear();
        std::int32_t out = 77;
        int out_len = -99;
        const int in_len = c.in_len == -1 ? static_cast<int>(c.in.size()) : c.in_len;
        const int result = h.device.DeviceIoControl(c.code, c.null_in ? nullptr : c.in.data(), in_len,
                                                    c.null_out ? nullptr : &out, c.out_size, out_len);
        EXPECT_EQ(result, -1) << c.what;
        EXPECT_EQ(out_len, 0) << c.what;
        EXPECT_EQ(out, 77) << c.what;
        EXPECT_EQ(h.device.step_, 12) << c.what;
        EXPECT_EQ(h.device.write_transaction().write_result_, 1) << c.what;
        EXPECT_TRUE(h.calls.calls.empty()) << c.what << ": " << h.calls.calls.front().name;
    }
}

TEST(ControlBadInput, EveryRequestIsLoggedFirst) {
    DeviceHarness h;
    h.log.take();
    int out_len = 0;
    h.device.DeviceIoControl(206, nullptr, -1, nullptr, 0, out_len);
    h.device.DeviceIoControl(4711, nullptr, 0, nullptr, 0, out_len);
    EXPECT_EQ(h.log.take(), "PX46TR_K::DeviceIoControl 206\nPX46TR_K::DeviceIoControl 4711\n");
}

// --- Requests passed to the host -------------------------------------------------------------------

std::vector<std::uint8_t> text(const std::string& s) { return std::vector<std::uint8_t>(s.begin(), s.end()); }

TEST(ControlRequests, UnparsableJsonNeverReachesTheHost) {
    const std::vector<std::vector<std::uint8_t>> bad = {
        text("{\"signal_id\":"), text("{\"a\":1"), text("not json"), text(std::string(5000, '[')), {}};
    // 310 is parsed under every profile, 320 under every one but 1.
    const struct {
        int code;
        int b_mode;
    } requests[] = {{310, 1}, {310, 3}, {320, 2}, {320, 3}, {320, 5}};
    for (const auto [code, b_mode] : requests) {
        for (const auto& in : bad) {
            DeviceHarness h;
            h.device.b_mode_ = b_mode;
            h.device.write_transaction().write_result_ = 1;
            EXPECT_EQ(control(h.device, code, in, nullptr, 0).result, -1) << code << " under " << b_mode;
            EXPECT_EQ(h.device.step_, code);
            EXPECT_EQ(h.device.write_transaction().write_result_, -1);
            EXPECT_EQ(h.calls.named("OpenPort").size(), 1u);
            EXPECT_TRUE(h.calls.named("DeviceIoControl").empty()) << code << " under " << b_mode;
        }
    }
}

TEST(ControlRequests, ParsedJsonGetsTheHostsResult) {
    for (const int code : {310, 320}) {
        DeviceHarness h;
        h.device.b_mode_ = 5;
        h.device.set_io_control_result(7);
        const auto in = text("{\"signal_id\":\"0418101001\"}");
        std::int32_t out = 77;
        EXPECT_EQ(control(h.device, code, in, &out, 4).result, 7);
        const auto passed = h.calls.named("DeviceIoControl");
        ASSERT_EQ(passed.size(), 1u);
        EXPECT_EQ(passed[0].args[0], code);
        EXPECT_EQ(passed[0].args[2], static_cast<int>(in.size()));
        EXPECT_EQ(passed[0].args[3], 4);
        EXPECT_EQ(out, 77) << "only unlisted codes copy the write outcome";
    }
}

TEST(ControlRequests, SignalRequestUnderProfileOneIsNotParsed) {
    DeviceHarness h;
    h.device.set_io_control_result(9);
    EXPECT_EQ(control(h.device, 320, text("not json"), nullptr, 0).result, 9);
    EXPECT_EQ(h.device.step_, 320);
}

TEST(ControlRequests, NullBufferTheCodeNeverTouchesStillReachesTheHost) {
    struct Case {
        const char* what;
        int code;
        int in_len;  // of a null input
        bool null_out;
        int out_size;
    } const cases[] = {
        {"other with null input", kOutcomeCode, 1, false, 4},
        {"other with null output too small for the outcome", kOutcomeCode, 0, true, 3},
        {"320 under profile 1 with null input", 320, 2, false, 0},
    };
    for (const auto& c : cases) {
        DeviceHarness h;
        h.device.set_io_control_result(11);
        std::int32_t out = 77;
        int out_len = -99;
        EXPECT_EQ(h.device.DeviceIoControl(c.code, nullptr, c.in_len, c.null_out ? nullptr : &out, c.out_size,
                                           out_len),
                  11)
            << c.what;
        EXPECT_EQ(h.calls.named("DeviceIoControl").size(), 1u) << c.what;
    }
}

TEST(ControlRequests, SignalRequestNeedsAnObjectWhoseIdIsText) {
    DeviceHarness h;
    h.device.b_mode_ = 3;
    for (const char* payload : {"[1]", "5", "\"0418101001\""}) {
        EXPECT_EQ(control(h.device, 320, text(payload), nullptr, 0).result, -1) << payload;
    }
    EXPECT_TRUE(h.calls.named("DeviceIoControl").empty());
    EXPECT_THROW(control(h.device, 320, text("{\"signal_id\":[1]}"), nullptr, 0), std::exception);
    EXPECT_THROW(control(h.device, 320, text("{\"signal_id\":{}}"), nullptr, 0), std::exception);
    EXPECT_EQ(control(h.device, 320, text("{\"other\":1}"), nullptr, 0).result, 0)
        << "a missing signal_id reads as empty text";
}

TEST(ControlRequests, UnlistedCodeCopiesOutcomeOnlyIntoFourBytes) {
    DeviceHarness h;
    h.device.write_transaction().write_result_ = 3;
    h.device.set_io_control_result(11);
    std::uint8_t out[3] = {7, 7, 7};
    const Control c = control(h.device, kOutcomeCode, {}, out, 3);
    EXPECT_EQ(c.result, 11);
    EXPECT_EQ(c.out_len, 0);
    EXPECT_EQ(out[0], 7);
    EXPECT_EQ(h.calls.named("DeviceIoControl").size(), 1u);
}

// --- The snapshot handed out -----------------------------------------------------------------------

TEST(ControlSnapshot, TextFitsExactlyOrNotAtAll) {
    DeviceHarness h;
    h.set_s32(4, 22000);
    h.run_round();
    Control c = control(h.device, 801, {}, nullptr, 0);
    EXPECT_EQ(c.result, -1);
    const int length = c.out_len;
    ASSERT_GT(length, 1000);

    std::vector<char> out(static_cast<std::size_t>(length) + 1, '#');
    c = control(h.device, 801, {}, out.data(), length - 1);
    EXPECT_EQ(c.result, -1);
    EXPECT_EQ(c.out_len, length);
    EXPECT_EQ(out[0], '#');

    c = control(h.device, 801, {}, out.data(), length);
    EXPECT_EQ(c.result, 0);
    EXPECT_EQ(c.out_len, length);
    EXPECT_EQ(out[static_cast<std::size_t>(length) - 1], '\n');
    EXPECT_EQ(out[static_cast<std::size_t>(length)], '#') << "no terminator";
    Json::Value parsed;
    ASSERT_TRUE(Json::Reader().parse(std::string(out.data(), static_cast<std::size_t>(length)), parsed));
    EXPECT_EQ(parsed, h.device.json_.root());
    EXPECT_DOUBLE_EQ(parsed["A路进线-电压"].asDouble(), 220.0);
}

TEST(ControlSnapshot, TextBuildsTheSnapshotOfTheLastRound) {
    DeviceHarness h;
    h.device.b_mode_ = 2;  // rounds build no snapshot of their own
    std::vector<char> out(1 << 20);
    EXPECT_EQ(control(h.device, 801, {}, out.data(), static_cast<int>(out.size())).out_len, 5);
    EXPECT_EQ(std::string(out.data(), 5), "null\n");
    h.run_round();
    EXPECT_EQ(control(h.device, 801, {}, out.data(), static_cast<int>(out.size())).result, 0);
    EXPECT_EQ(h.device.json_.root().size(), 1489u);
}

TEST(ControlSnapshot, AddressTakesAPointersWidth) {
    DeviceHarness h;
    h.run_round();
    unsigned char out[sizeof(void*)] = {};
    Control c = control(h.device, 803, {}, out, 3);
    EXPECT_EQ(c.result, -1);
    EXPECT_EQ(c.out_len, static_cast<int>(sizeof(void*)));
    c = control(h.device, 803, {}, out, static_cast<int>(sizeof(void*)) - 1);
    EXPECT_EQ(c.result, -1) << "a narrower area would hold a cut pointer";
    c = control(h.device, 803, {}, out, static_cast<int>(sizeof(void*)));
    EXPECT_EQ(c.result, 0);
    const Json::Value* address = nullptr;
    std::memcpy(&address, out, sizeof address);
    EXPECT_EQ(address, &h.device.json_.root());
    EXPECT_EQ((*address)["更新时间"], "2026-12-7 15:3:21");
}

// Rounds completing on one thread while another fetches the text: each text is one build's view.
TEST(ControlSnapshot, TextIsOneBuildWhileRoundsComplete) {
    DeviceHarness h;
    h.run_round();
    constexpr int kRounds = 60;
    std::thread poller([&] {
        for (int round = 1; round <= kRounds; ++round) {
            for (int n = 0; n < 144; ++n) h.set_s32(32 + 36 * (n / 3) + 2 * (n % 3), round * 100);
            h.clock.advance(1);
            h.run_round();
        }
    });
    std::vector<char> out(1 << 20);
    int texts = 0;
    bool consistent = true;
    for (int i = 0; i < 400 && consistent; ++i) {
        int out_len = 0;
        if (h.device.DeviceIoControl(801, nullptr, 0, out.data(), static_cast<int>(out.size()), out_len) !=
            0) {
            continue;
        }
        Json::Value parsed;
        ASSERT_TRUE(Json::Reader().parse(std::string(out.data(), static_cast<std::size_t>(out_len)), parsed));
        ++texts;
        const Json::Value first = parsed["出线支路01电压"];
        for (int n = 2; n <= 144 && consistent; ++n) {
            consistent = parsed[px46tr_k::feeder_name(n) + "电压"] == first;
        }
    }
    poller.join();
    EXPECT_TRUE(consistent);
    EXPECT_GT(texts, 0);
}

// --- Value queries ---------------------------------------------------------------------------------

std::string refusal(const TestDevice& device) {
    try {
        device.Get_Value(1, "环境温度");
    } catch (const std::out_of_range& e) {
        return e.what();
    }
    return "returned";
}

TEST(ValueQueries, RefusalSaysWhy) {
    DeviceHarness h;
    EXPECT_EQ(refusal(h.device), "数据未就绪");
    h.run_round();
    EXPECT_EQ(refusal(h.device), "不支持变量");
    h.clock.advance(60);
    EXPECT_EQ(refusal(h.device), "不支持变量");
    h.clock.advance(1);
    EXPECT_EQ(refusal(h.device), "数据已超时");
    h.clock.advance(-3600);
    EXPECT_EQ(refusal(h.device), "不支持变量") << "a clock set back is not a time-out";
}

}  // namespace
