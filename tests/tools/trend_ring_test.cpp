#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <memory>

#include <json/writer.h>

#include "catalogue/signal_catalogue.h"
#include "device_harness.h"
#include "site_trends.h"
#include "trend_ring.h"

namespace {

// A snapshot with both lines, the ambient values and a few feeders set.
Json::Value loaded_snapshot() {
    DeviceHarness h;
    h.set_s32(4, 22987);    // line A voltage 229.87
    h.set_s32(6, 4000);     // line A current 40.00
    h.set_s32(8, 9200);     // line A power 9.2
    h.set_s32(18, 23041);   // line B voltage 230.41
    h.set_s32(20, 3550);    // line B current 35.50
    h.set_s32(22, 8100);    // line B power 8.1
    h.unit.set(4247, 235);  // 23.5 °C
    h.unit.set(4248, 450);  // 45.0 %RH
    h.run_round();
    return h.device.json_.root();
}

std::shared_ptr<const std::string> text_of(const Json::Value& snapshot) {
    return std::make_shared<const std::string>(Json::FastWriter().write(snapshot));
}

TEST(TrendRing, AWeekOfRoundsASecondKeepsTheLastHourOnePointPerSlot) {
    TrendRing ring;
    constexpr std::int64_t kStart = 1'780'000'000'000;  // ms since the epoch
    constexpr std::int64_t kWeek = 7 * 24 * 3600;
    std::size_t read = 0;  // the snapshots a writer would have parsed
    for (std::int64_t s = 0; s < kWeek; ++s) {
        const std::int64_t t = kStart + s * 1000 + 300;
        if (!ring.wants(t)) continue;
        ++read;
        TrendPoint point;
        point.time_ms = t;
        point.values.fill(static_cast<double>(s));
        ring.add(point);
        ring.add(point);  // a second point of the same slot is not kept
    }
    EXPECT_EQ(read, static_cast<std::size_t>(kWeek / 5));
    const auto points = ring.points();
    ASSERT_EQ(points.size(), 720u);
    EXPECT_EQ(ring.capacity(), 720u);
    EXPECT_EQ(points.back().time_ms, kStart + (kWeek - 5) * 1000 + 300);
    for (std::size_t i = 1; i < points.size(); ++i)
        ASSERT_EQ(points[i].time_ms - points[i - 1].time_ms, 5000);
    EXPECT_EQ(points.back().time_ms - points.front().time_ms, 3595 * 1000);
}

TEST(TrendRing, PointsReadTheLinesAndAmbientByCatalogueName) {
    Json::Value snapshot = loaded_snapshot();
    const std::string humidity =
        px46tr_k::fixed_signal_at(px46tr_k::kAmbientSignals, px46tr_k::kAmbientHumidityRegister)->name;
    const TrendPoint point = trend_point(snapshot, 42);
    const double expected[] = {229.87f, 230.41f, 40.0f, 35.5f, 9.2f, 8.1f, 23.5f, 45.0f};
    EXPECT_EQ(point.time_ms, 42);
    for (std::size_t i = 0; i < kTrendSeriesCount; ++i) {
        EXPECT_EQ(point.values[i], snapshot[trend_series()[i].member].asDouble()) << trend_series()[i].key;
        EXPECT_NEAR(point.values[i], expected[i], 1e-9) << trend_series()[i].key;
    }
    snapshot.removeMember(humidity);
    EXPECT_TRUE(std::isnan(trend_point(snapshot, 42).values[7]));
}

// Only a completed round with a snapshot gives its unit a point, and only its own unit.
TEST(TrendRing, SiteTrendsTakeCompletedRoundsOfTheirOwnUnit) {
    SiteStatus status;
    const std::size_t line = status.add_line("line 1");
    status.add_unit(line, 1, 101, "line 1 unit 1 (data id 101)");
    status.add_unit(line, 2, 102, "line 1 unit 2 (data id 102)");
    SiteTrends trends(2);
    trends.follow(status);
    EXPECT_TRUE(status.keeps_snapshots());

    status.round_ended(0, {false, false, 0.1, LinkFailure::timeout, "time-out", nullptr});
    status.round_ended(0, {true, false, 0.1, LinkFailure::none, "", nullptr});  // the profile builds none
    EXPECT_TRUE(trends.ring(0)->points().empty());
    status.round_ended(1, {true, false, 0.1, LinkFailure::none, "", text_of(loaded_snapshot())});
    EXPECT_TRUE(trends.ring(0)->points().empty());
    const auto points = trends.ring(1)->points();
    ASSERT_EQ(points.size(), 1u);
    EXPECT_NEAR(points[0].values[0], 229.87, 1e-4);
    EXPECT_EQ(trends.ring(2), nullptr);
}

}  // namespace
