#include <gtest/gtest.h>

#include <cstring>

#include "device_harness.h"

namespace {

TEST(RoundCompletion, PublishesStampedRecordWithTypeCode) {
    DeviceHarness h;
    h.device.InitSetting(Json::Value(Json::objectValue));
    h.clock.set(boost::posix_time::time_from_string("2026-12-07 15:03:21"));
    h.run_round();
    const auto sends = h.calls.named("SendSP");
    ASSERT_EQ(sends.size(), 1u);
    EXPECT_EQ(sends[0].args[0].asInt(), 5156);
    EXPECT_EQ(sends[0].args[2].asUInt(), 3921u);
    EXPECT_FALSE(sends[0].args[3].asBool());
    const auto record = from_hex(sends[0].args[1].asString());
    ASSERT_EQ(record.size(), 3921u);
    const std::vector<std::uint8_t> stamp(record.end() - 7, record.end());
    EXPECT_EQ(stamp, (std::vector<std::uint8_t>{0xea, 0x07, 12, 7, 15, 3, 21}));
    EXPECT_EQ(record[0], 1) << "data identifier in the first four bytes";
    EXPECT_TRUE(h.device.data_ready_);
    EXPECT_EQ(h.device.update_time_, h.clock.local_now());
}

TEST(RoundCompletion, HostCallsComeInOrder) {
    DeviceHarness h;
    h.device.b_mode_ = 2;
    h.log.take();
    h.run_round();
    EXPECT_EQ(h.log.take(), "rvSize is 0\n");
    EXPECT_EQ(h.calls.names_without_requests(),
              (std::vector<std::string>{"RefreshStatus", "SendSP", "Reset", "DoBatchCheckThreshold",
                                        "SaveDeviceHistory"}));
    const auto batch = h.calls.named("DoBatchCheckThreshold");
    EXPECT_EQ(batch[0].args[0].asUInt(), 0u);
    EXPECT_EQ(h.calls.named("SaveDeviceHistory")[0].args[0], h.calls.named("SendSP")[0].args[1])
        << "the stored record is the published one";
}

TEST(RoundCompletion, SerialRestartsAtOneEveryRound) {
    DeviceHarness h;
    h.run_round();
    EXPECT_EQ(h.device.check_seq_, 1);
    h.device.check_seq_ = 40;
    h.clock.advance(1);
    h.run_round();
    EXPECT_EQ(h.device.check_seq_, 1);
    EXPECT_EQ(h.calls.named("SendSP").size(), 2u);
}

TEST(RoundCompletion, GatheredRuleValuesAreCountedPassedAndCleared) {
    DeviceHarness h;
    h.device.rule_values_.resize(3);
    h.log.take();
    h.device.RoundDone();
    EXPECT_EQ(h.log.take(), "rvSize is 3\n");
    EXPECT_EQ(h.calls.named("DoBatchCheckThreshold")[0].args[0].asUInt(), 3u);
    EXPECT_TRUE(h.device.rule_values_.empty());
    EXPECT_EQ(h.device.alarm_changed_, 1) << "the host saw changes";
}

TEST(CacheLoad, TakesOnlyWholeRecords) {
    DeviceHarness h;
    std::vector<unsigned char> bytes(3922, 0xab);
    const auto before = h.device.record();
    EXPECT_FALSE(h.device.LoadFromCache(bytes.data(), 3920));
    EXPECT_FALSE(h.device.LoadFromCache(bytes.data(), 3922));
    EXPECT_FALSE(h.device.LoadFromCache(bytes.data(), -3921));
    EXPECT_FALSE(h.device.LoadFromCache(nullptr, 3921));
    EXPECT_FALSE(h.device.LoadFromCache(std::string(3920, 'x')));
    EXPECT_EQ(h.device.record(), before);
    EXPECT_FALSE(h.device.data_ready_);
    EXPECT_TRUE(h.calls.calls.empty());
}

TEST(CacheLoad, WholeRecordCompletesARoundStampedWithTheLoadTime) {
    DeviceHarness h;
    std::vector<unsigned char> stored(3921);
    for (std::size_t i = 0; i < stored.size(); ++i) stored[i] = static_cast<unsigned char>(i * 13);
    h.clock.set(boost::posix_time::time_from_string("2026-03-07 09:05:00"));
    ASSERT_TRUE(h.device.LoadFromCache(stored.data(), 3921));
    EXPECT_TRUE(h.device.data_ready_);
    const auto published = from_hex(h.calls.named("SendSP").at(0).args[1].asString());
    EXPECT_TRUE(std::equal(stored.begin(), stored.end() - 7, published.begin()))
        << "identifier and image come from the cache";
    const std::vector<std::uint8_t> stamp(published.end() - 7, published.end());
    EXPECT_EQ(stamp, (std::vector<std::uint8_t>{0xea, 0x07, 3, 7, 9, 5, 0}));
    EXPECT_EQ(h.calls.named("SaveDeviceHistory").size(), 1u);
}

// A host that loads stored records back to back gives each load a round time of its own, so that
// the snapshot is rebuilt for each within one second of the clock; a given time serves one round.
TEST(CacheLoad, GivenRoundTimeRebuildsTheSnapshotOnce) {
    DeviceHarness h;
    h.clock.set(boost::posix_time::time_from_string("2026-03-07 09:05:00"));
    boost::posix_time::ptime given = boost::posix_time::time_from_string("2000-01-01 00:00:00");
    const auto hardware_code_after_load = [&](std::uint16_t code, bool give) {
        std::vector<unsigned char> stored(3921);
        std::memcpy(stored.data() + 4, &code, sizeof code);  // sys_info register 0
        if (give) {
            given += boost::posix_time::seconds(1);
            h.device.give_round_time(given);
        }
        EXPECT_TRUE(h.device.LoadFromCache(stored.data(), 3921));
        return h.device.json_.root()["系统硬件编码"].asInt();
    };
    EXPECT_EQ(hardware_code_after_load(1, false), 1);
    EXPECT_EQ(hardware_code_after_load(2, false), 1) << "one second of the clock: no rebuild";
    EXPECT_EQ(hardware_code_after_load(3, true), 3);
    EXPECT_EQ(hardware_code_after_load(4, true), 4);
    EXPECT_EQ(hardware_code_after_load(5, false), 5) << "the clock's time again after a given one";
    EXPECT_EQ(h.device.update_time_, h.clock.local_now());
}

TEST(CacheLoad, StringFormMatchesTheByteForm) {
    DeviceHarness a;
    DeviceHarness b;
    std::string stored(3921, '\0');
    for (std::size_t i = 0; i < stored.size(); ++i) stored[i] = static_cast<char>(i % 251);
    ASSERT_TRUE(a.device.LoadFromCache(stored));
    ASSERT_TRUE(b.device.LoadFromCache(reinterpret_cast<const unsigned char*>(stored.data()), 3921));
    EXPECT_EQ(a.device.record(), b.device.record());
    EXPECT_EQ(a.calls.named("SendSP")[0].args, b.calls.named("SendSP")[0].args);
}

}  // namespace
