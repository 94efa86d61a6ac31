#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <json/writer.h>

#include "device_harness.h"
#include "site_page.h"
#include "trend_ring.h"

namespace {

// The server's threads read a ring while its line thread writes it: every copy a reader gets is
// whole (its points in slot order, each point's values its own) and never more than the ring
// holds.
TEST(PageReaders, RingCopiesStayWholeWhileTheLineWrites) {
    constexpr std::int64_t kPoints = 20000;
    TrendRing ring(64, std::chrono::milliseconds(1));
    std::atomic<bool> done{false};
    std::vector<std::thread> readers;
    std::atomic<int> torn{0};
    for (int r = 0; r < 3; ++r) {
        readers.emplace_back([&] {
            while (!done) {
                const auto points = ring.points();
                if (points.size() > 64) ++torn;
                for (std::size_t i = 0; i < points.size(); ++i) {
                    if (points[i].values[0] != static_cast<double>(points[i].time_ms) ||
                        (i > 0 && points[i].time_ms != points[i - 1].time_ms + 1))
                        ++torn;
                }
            }
        });
    }
    for (std::int64_t t = 0; t < kPoints; ++t) {
        TrendPoint point;
        point.time_ms = t;
        point.values.fill(static_cast<double>(t));
        if (ring.wants(t)) ring.add(point);
    }
    done = true;
    for (auto& reader : readers) reader.join();
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(ring.points().back().time_ms, kPoints - 1);
}

// The page's data served on several threads while a line thread ends rounds that feed the trend
// (the round listener parses the snapshot the readers share).
TEST(PageReaders, PageDataServedWhileRoundsEnd) {
    SiteStatus status;
    status.add_unit(status.add_line("line 1"), 1, 101, "line 1 unit 1 (data id 101)");
    const SitePage page(status, 1, PageFiles("/nonexistent", "/nonexistent"));
    DeviceHarness h;
    h.set_s32(4, 22987);
    h.run_round();
    const auto text = std::make_shared<const std::string>(Json::FastWriter().write(h.device.json_.root()));
    std::atomic<bool> done{false};
    std::atomic<int> served{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < 3; ++r) {
        readers.emplace_back([&] {
            while (!done) {
                const bool view = page.reply("/api/units/101/view").has_value();
                const bool trend = page.reply("/api/units/101/trend").has_value();
                served += view && trend ? 1 : 0;
            }
        });
    }
    for (int round = 0; round < 200; ++round) {
        status.round_started(0);
        // A fresh text each round, as each round's snapshot is, so that the parse is redone.
        status.round_ended(
            0, {true, false, 0.01, LinkFailure::none, "", std::make_shared<const std::string>(*text)});
    }
    done = true;
    for (auto& reader : readers) reader.join();
    EXPECT_GT(served, 0);
    // One point per 5-s slot the rounds fell in.
    EXPECT_FALSE(page.trends().ring(0)->points().empty());
}

}  // namespace
