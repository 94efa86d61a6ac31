#include <gtest/gtest.h>

#include <cstring>

#include "catalogue/record_fields.h"
#include "catalogue/register_map.h"
#include "device_harness.h"
#include "scripted_link.h"

namespace {

using px46tr_k::kRegisterMap;

// Gives every register of the map a value of its own, so that a misplaced copy shows.
void fill_distinct(SimulatedUnit& unit) {
    for (const auto& row : kRegisterMap) {
        for (int r = 0; r < row.count; ++r) {
            const int reg = row.first_register + r;
            unit.set(reg, static_cast<std::uint16_t>(reg * 7 + 0x1234));
        }
    }
}

std::vector<std::uint8_t> replies_concatenated(const SimulatedUnit& unit) {
    std::vector<std::uint8_t> bytes;
    for (const auto& row : kRegisterMap) {
        for (int r = 0; r < row.count; ++r) {
            const std::uint16_t value = unit.get(row.first_register + r);
            std::uint8_t raw[2];
            std::memcpy(raw, &value, 2);
            bytes.insert(bytes.end(), raw, raw + 2);
        }
    }
    return bytes;
}

TEST(PollingRound, IssuesTheSixtyTwoReadsOfTheMapInOrder) {
    DeviceHarness h;
    h.run_round();
    const auto reads = h.calls.named("modbus_read_registers");
    ASSERT_EQ(reads.size(), 62u);
    for (std::size_t i = 0; i < reads.size(); ++i) {
        EXPECT_EQ(reads[i].args[0].asInt(), kRegisterMap[i].first_register) << "read " << i;
        EXPECT_EQ(reads[i].args[1].asInt(), kRegisterMap[i].count) << "read " << i;
    }
    EXPECT_EQ(reads[13].args[0].asInt(), 32 + 36 * 10);
    EXPECT_EQ(reads.back().args[0].asInt(), 7456);
    EXPECT_EQ(h.calls.named("SendSP").size(), 1u) << "RoundDone runs once";
}

TEST(PollingRound, RegisterImageIsTheRepliesConcatenated) {
    DeviceHarness h;
    fill_distinct(h.unit);
    h.run_round();
    const auto record = h.device.record();
    const std::vector<std::uint8_t> image(record.begin() + 4, record.begin() + 3914);
    EXPECT_EQ(image, replies_concatenated(h.unit));
}

TEST(PollingRound, RoundDoneOnlyAfterTheLastReply) {
    DeviceHarness h;
    h.device.RefreshStatus();
    for (int i = 0; i < 61; ++i) ASSERT_TRUE(h.pump.pump_one());
    EXPECT_TRUE(h.calls.named("SendSP").empty());
    EXPECT_EQ(h.device.step_, 72);
    ASSERT_TRUE(h.pump.pump_one());
    EXPECT_EQ(h.calls.named("SendSP").size(), 1u);
    EXPECT_EQ(h.device.step_, 72) << "the step stays at the last read";
    EXPECT_FALSE(h.pump.pump_one()) << "no read follows the last one";
}

TEST(PollingRound, ReplyWhileAtLastStepCompletesAgain) {
    DeviceHarness h;
    h.run_round();
    h.device.deliver_reply(std::vector<std::uint16_t>(10, 0xffff));
    EXPECT_EQ(h.calls.named("SendSP").size(), 2u);
    EXPECT_EQ(px46tr_k::read_u16(h.device.record().data() + 3894), 0xffff);
}

TEST(PollingRound, RefreshMidRoundRestartsAtRegisterZeroKeepingTheRecord) {
    DeviceHarness h;
    fill_distinct(h.unit);
    h.device.RefreshStatus();
    for (int i = 0; i < 5; ++i) h.pump.pump_one();
    const auto partial = h.device.record();
    h.calls.clear();
    h.device.RefreshStatus();
    EXPECT_EQ(h.device.step_, 11);
    EXPECT_EQ(h.device.record(), partial) << "restarting clears nothing";
    h.pump.pump_all();
    const auto reads = h.calls.named("modbus_read_registers");
    ASSERT_EQ(reads.size(), 62u);
    EXPECT_EQ(reads.front().args[0].asInt(), 0);
    EXPECT_EQ(h.calls.named("SendSP").size(), 1u);
}

TEST(PollingRound, FailedRequestEndsTheRoundAndKeepsEarlierBlocks) {
    DeviceHarness h;
    fill_distinct(h.unit);
    h.run_round();
    const auto first = h.device.record();
    for (int reg = 0; reg < 8000; ++reg) h.unit.set(reg, 0);

    ScriptedLink link(h.unit);
    link.script = [](std::size_t n, const ModbusRequest&, LinkResult& result) {
        if (n == 3) result = LinkResult{};
    };
    BusPump pump(h.device, link);
    h.calls.clear();
    h.device.RefreshStatus();
    testing::internal::CaptureStdout();
    pump.pump_all();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "SPModbus get error\n");
    EXPECT_TRUE(h.calls.named("SendSP").empty());
    EXPECT_EQ(h.calls.named("modbus_read_registers").size(), 4u);
    const auto after = h.device.record();
    // Reads 0 to 2 were re-read as zero, the rest keep the last round's values.
    const std::size_t fresh_end = kRegisterMap[3].record_offset;
    for (std::size_t i = 4; i < fresh_end; ++i) ASSERT_EQ(after[i], 0) << "byte " << i;
    for (std::size_t i = fresh_end; i < 3914; ++i) ASSERT_EQ(after[i], first[i]) << "byte " << i;
}

TEST(PollingRound, ShortReplyCopiesNothingAndEndsTheRound) {
    DeviceHarness h;
    fill_distinct(h.unit);
    ScriptedLink link(h.unit);
    link.script = [](std::size_t n, const ModbusRequest&, LinkResult& result) {
        if (n == 14) result.words.resize(3);  // read of feeder group 11, 36 registers asked
    };
    BusPump pump(h.device, link);
    h.log.take();
    h.device.RefreshStatus();
    pump.pump_all();
    EXPECT_EQ(h.log.take(), "PX46TR_K::process_payload short reply step:25 words:3 expected:36\n");
    EXPECT_TRUE(h.calls.named("SendSP").empty());
    EXPECT_EQ(h.calls.named("modbus_read_registers").size(), 15u);
    const auto record = h.device.record();
    const auto& row = kRegisterMap[14];
    for (std::size_t i = row.record_offset; i < row.record_offset + row.bytes(); ++i) {
        ASSERT_EQ(record[i], 0) << "byte " << i << " was copied from a short reply";
    }
}

TEST(PollingRound, RepliesOutsideTheRoundChangeNothing) {
    for (int step : {0, 10, 73, 310, 320, 999}) {
        DeviceHarness h;
        h.device.step_ = step;
        const auto before = h.device.record();
        EXPECT_EQ(h.device.deliver_reply({1, 2, 3, 4}), 1) << "step " << step;
        EXPECT_EQ(h.device.record(), before);
        EXPECT_EQ(h.device.step_, step);
        EXPECT_EQ(h.device.write_transaction().write_result_, -1);
        EXPECT_TRUE(h.calls.calls.empty());
    }
}

// The judging itself is WriteTransaction's (write_transaction_test.cpp): here, that a reply
// awaited by a write reaches it and ends the transaction.
TEST(WriteReplies, AwaitedWriteIsJudgedAndEnded) {
    const struct {
        int step;
        int expect;
        std::vector<std::uint16_t> reply;
        int result;
    } cases[] = {{206, 1, {1}, 1}, {210, 2, {16, 3}, 3}};
    for (const auto& c : cases) {
        DeviceHarness h;
        h.device.step_ = c.step;
        h.device.write_transaction().begin(c.expect);
        EXPECT_EQ(h.device.deliver_reply(c.reply), 0);
        EXPECT_EQ(h.device.write_transaction().outcome(), c.result) << "step " << c.step;
        EXPECT_EQ(h.calls.names_without_requests(), std::vector<std::string>{"Reset"});
    }
}

}  // namespace
