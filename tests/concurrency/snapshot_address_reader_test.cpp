// Request 803 hands out the snapshot's address to readers that take no lock. Once the first build
// has inserted the members, a reader that serialises the tree and reads its members while rounds
// or cache loads complete may see values of two rounds, or a round time torn between two, but
// never freed memory, however many completions pass during one walk. This races by design: it
// runs under AddressSanitizer, not under ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <json/writer.h>

#include "fake_clock.h"
#include "framework/diagnostic_sink.h"
#include "host_runtime/bus_pump.h"
#include "host_runtime/simulated_unit.h"
#include "test_device.h"

namespace {

// A device that has completed one round with every alarm-only entry raised, so that no later
// build inserts a member, and the address 803 handed out for it.
struct ReadDevice {
    ReadDevice() {
        device.set_clock(clock);
        device.set_diagnostic_sink(framework::silent_sink());
        device.Init(std::weak_ptr<SMDController>(), 1, Json::Value(Json::objectValue));
        for (int reg = 4096; reg <= 4102; ++reg) unit.set(reg, 1);
        round();
        int length = 0;
        EXPECT_EQ(device.DeviceIoControl(803, nullptr, 0, &tree, sizeof tree, length), 0);
    }
    void round() {
        device.RefreshStatus();
        pump.pump_all();
    }

    SimulatedUnit unit;
    FakeClock clock;
    TestDevice device;
    BusPump pump{device, unit};
    const Json::Value* tree = nullptr;
};

TEST(SnapshotAddressReader, ReadsWhileAThousandRoundsCompleteAndTouchesNoFreedMemory) {
    ReadDevice d;
    std::atomic<bool> done{false};
    std::atomic<long> reads{0};
    std::thread reader([&] {
        while (!done.load()) {
            // Most time goes to the texts, where a freed one would be read.
            std::size_t texts = 0;
            for (const Json::Value& member : *d.tree) {
                if (member.isString()) texts += member.asString().empty() ? 0 : 1;
            }
            const std::string text = reads % 16 == 0 ? Json::FastWriter().write(*d.tree) : "";
            if (texts >= 600) ++reads;
        }
    });
    for (int r = 1; r <= 1000; ++r) {
        // Numbers, status words, flags and entries all change from round to round.
        for (int reg = r % 3; reg < 7466; reg += 3) d.unit.set(reg, static_cast<std::uint16_t>(r * 7 + reg));
        d.clock.advance(1);
        d.round();
    }
    done = true;
    reader.join();
    EXPECT_GT(reads.load(), 0);
}

// Cache loads complete back to back, microseconds apart, while a host thread writes the tree as
// text: each load gives the round a time of its own, longer or shorter than the one before.
TEST(SnapshotAddressReader, WritesTheTreeWhileCacheLoadsCompleteBackToBack) {
    ReadDevice d;
    const std::vector<std::uint8_t> record = d.device.record();
    std::atomic<bool> done{false};
    std::atomic<long> writes{0};
    std::thread writer([&] {
        while (!done.load()) {
            if (!Json::FastWriter().write(*d.tree).empty()) ++writes;
        }
    });
    for (int load = 1; load <= 3000; ++load) {
        d.clock.advance(load % 2 == 0 ? 1 : 3599);  // minutes and hours of one and two digits
        ASSERT_TRUE(d.device.LoadFromCache(record.data(), static_cast<int>(record.size())));
    }
    done = true;
    writer.join();
    EXPECT_GT(writes.load(), 0);
}

// The slowest reader: it takes the round time's characters, then reads them only after many
// completions.
TEST(SnapshotAddressReader, ARoundTimeTakenBeforeManyCompletionsIsStillAllocated) {
    ReadDevice d;
    const std::vector<std::uint8_t> record = d.device.record();
    const char* begin = nullptr;
    const char* end = nullptr;
    ASSERT_TRUE((*d.tree)["更新时间"].getString(&begin, &end));
    for (int load = 1; load <= 50; ++load) {
        d.clock.advance(load % 7 == 0 ? 3599 : 1);
        ASSERT_TRUE(d.device.LoadFromCache(record.data(), static_cast<int>(record.size())));
    }
    const std::string held(begin, end);
    EXPECT_EQ(held.rfind("20", 0), 0u) << held;
}

}  // namespace
