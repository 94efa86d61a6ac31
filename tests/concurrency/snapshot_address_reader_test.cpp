// Request 803 hands out the snapshot's address to readers that take no lock. Once the first build
// has inserted the members, a reader that serialises the tree and reads its members while rounds
// complete may see values of two rounds, but never freed memory, as long as each walk ends before
// the round after next completes: the round time a build replaces lives until the following
// build. This races by design: it runs under AddressSanitizer, not under ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include <json/writer.h>

#include "fake_clock.h"
#include "framework/diagnostic_sink.h"
#include "host_runtime/bus_pump.h"
#include "host_runtime/simulated_unit.h"
#include "test_device.h"

namespace {

TEST(SnapshotAddressReader, ReadsWhileAThousandRoundsCompleteAndTouchesNoFreedMemory) {
    SimulatedUnit unit;
    FakeClock clock;
    TestDevice device;
    device.set_clock(clock);
    device.set_diagnostic_sink(framework::silent_sink());
    device.Init(std::weak_ptr<SMDController>(), 1, Json::Value(Json::objectValue));
    BusPump pump(device, unit);
    auto round = [&] {
        device.RefreshStatus();
        pump.pump_all();
    };
    // Every alarm-only entry raised in the first round, so that no later build inserts a member.
    for (int reg = 4096; reg <= 4102; ++reg) unit.set(reg, 1);
    round();

    const Json::Value* tree = nullptr;
    int length = 0;
    ASSERT_EQ(device.DeviceIoControl(803, nullptr, 0, &tree, sizeof tree, length), 0);

    std::atomic<bool> done{false};
    std::atomic<long> reads{0};
    std::atomic<int> completed{0};   // rounds completed since the address was taken
    std::atomic<int> walk_after{0};  // the rounds completed when the reader's walk began
    std::thread reader([&] {
        while (!done.load()) {
            walk_after = completed.load();
            // Most time goes to the texts, where a freed one would be read.
            std::size_t texts = 0;
            for (const Json::Value& member : *tree) {
                if (member.isString()) texts += member.asString().empty() ? 0 : 1;
            }
            const std::string text = reads % 16 == 0 ? Json::FastWriter().write(*tree) : "";
            if (texts >= 600) ++reads;
        }
    });
    for (int r = 1; r <= 1000; ++r) {
        // A walk begun before the last round completed may hold its predecessor's time.
        while (walk_after.load() < r - 1) std::this_thread::yield();
        // Numbers, status words, flags and entries all change from round to round.
        for (int reg = r % 3; reg < 7466; reg += 3) unit.set(reg, static_cast<std::uint16_t>(r * 7 + reg));
        clock.advance(1);
        round();
        completed = r;
    }
    done = true;
    reader.join();
    EXPECT_GT(reads.load(), 0);
}

}  // namespace
