// One device driven the way a multi-threaded host drives it: a polling thread runs rounds against
// an in-process unit whose whole image changes every round, while request threads fetch the
// snapshot, query values, write registers, pass control requests, load cached records and reload
// the configuration. What a host relies on is checked: every published record is one round's
// image, every snapshot text is one image with that image's time, every write gets an outcome,
// rounds keep completing. Run it under ThreadSanitizer as well: with a configuration that names
// signals outside the snapshot, the rule evaluation inserts members while requests read the tree.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <json/reader.h>
#include <boost/date_time/posix_time/posix_time.hpp>

#include "catalogue/px46tr_k_data.h"
#include "catalogue/record_fields.h"
#include "framework/diagnostic_sink.h"
#include "host_runtime/bus_pump.h"
#include "host_runtime/host_call.h"
#include "host_runtime/simulated_unit.h"
#include "temp_work_dir.h"
#include "test_device.h"

namespace {

using namespace std::chrono_literals;
using px46tr_k::kImageBegin;
using px46tr_k::kImageEnd;

constexpr int kImageRegisters = 7466;  // registers 0 to 7465 make the record's image
constexpr int kWriteRegister = 9000;   // writes go outside the image
constexpr int kImages = 16;            // images cycle through the values 1 to 16

// Moves one second at every reading, from any thread, so that every completion has a time of
// its own. Relaxed: the clock must not order the threads it serves, or it would hide their races.
class TickingClock : public framework::Clock {
public:
    boost::posix_time::ptime local_now() const override {
        return start_ + boost::posix_time::seconds(ticks_.fetch_add(1, std::memory_order_relaxed));
    }
    std::time_t epoch_now() const override { return 1796000000 + ticks_.load(std::memory_order_relaxed); }

private:
    const boost::posix_time::ptime start_ = boost::posix_time::time_from_string("2026-12-08 00:00:00");
    mutable std::atomic<long> ticks_{0};
};

// The snapshot's time text of a record's stamp.
std::string stamp_text(const std::vector<unsigned char>& record) {
    const unsigned char* s = record.data() + kImageEnd;
    char text[32];
    std::snprintf(text, sizeof text, "%u-%u-%u %u:%u:%u", static_cast<unsigned>(px46tr_k::read_u16(s)), s[2],
                  s[3], s[4], s[5], s[6]);
    return text;
}

// The image value k when every register of the record's image holds k; 0 when it is torn.
unsigned image_of(const std::vector<unsigned char>& record) {
    const std::uint16_t k = px46tr_k::read_u16(record.data() + kImageBegin);
    for (std::size_t at = kImageBegin; at < kImageEnd; at += 2) {
        if (px46tr_k::read_u16(record.data() + at) != k) return 0;
    }
    return k;
}

// Set on the thread that polls, so that its completions can be told from cache loads.
thread_local bool polling_here = false;

// Everything the threads saw that a host must never see, and what the publications were.
class Findings : public HostCallObserver {
public:
    void on_host_call(const HostCall& call) override {
        if (call.name != "SendSP") return;
        std::vector<unsigned char> record = from_hex(call.args[1].asString());
        const unsigned k = image_of(record);
        std::lock_guard<std::mutex> lock(mutex_);
        if (k == 0) faults_.push_back("published a record of two images");
        published_[stamp_text(record)] = k;
        if (polling_here) ++polled_completions;
        last_record_ = std::move(record);
    }
    void fault(const std::string& what) {
        std::lock_guard<std::mutex> lock(mutex_);
        faults_.push_back(what);
    }
    void snapshot_seen(const std::string& time, unsigned k) {
        std::lock_guard<std::mutex> lock(mutex_);
        snapshots_.emplace_back(time, k);
    }
    std::vector<unsigned char> last_record() {
        std::lock_guard<std::mutex> lock(mutex_);
        return last_record_;
    }
    // After the threads have ended: every snapshot's time is a publication of the same image.
    std::vector<std::string> all_faults() {
        for (const auto& [time, k] : snapshots_) {
            const auto found = published_.find(time);
            if (found == published_.end() || found->second != k) {
                faults_.push_back("snapshot of image " + std::to_string(k) + " carries the time " + time +
                                  " of another record");
            }
        }
        return faults_;
    }

    long polled_completions = 0;

private:
    std::mutex mutex_;
    std::vector<std::string> faults_;
    std::map<std::string, unsigned> published_;
    std::vector<std::pair<std::string, unsigned>> snapshots_;
    std::vector<unsigned char> last_record_;
};

// The snapshot of every image, built by a device of its own from the record alone.
std::map<unsigned, Json::Value> reference_snapshots(std::int32_t profile) {
    std::map<unsigned, Json::Value> snapshots;
    for (unsigned k = 1; k <= kImages; ++k) {
        TestDevice device;
        device.set_diagnostic_sink(framework::silent_sink());
        device.b_mode_ = profile;
        std::vector<unsigned char> record(px46tr_k::kRecordSize);
        for (std::size_t at = kImageBegin; at < kImageEnd; at += 2)
            px46tr_k::write_u16(record.data() + at, k);
        device.LoadFromCache(record.data(), static_cast<int>(record.size()));
        device.GenJsonData();  // under a profile whose rounds build none
        snapshots[k] = device.json_.root();
        snapshots[k].removeMember("更新时间");
    }
    return snapshots;
}

// Whether a snapshot holds every value of an image's own snapshot. Alarm-only "AlertArray" entries
// of earlier rounds stay in a snapshot, so it may hold more entries than the image's.
bool holds_image(const Json::Value& snapshot, const Json::Value& image) {
    for (const auto& name : image.getMemberNames()) {
        const Json::Value& member = image[name];
        const bool same = member.isObject() ? snapshot[name].isObject() && holds_image(snapshot[name], member)
                                            : snapshot[name] == member;
        if (!same) return false;
    }
    return true;
}

struct StressCase {
    const char* name;
    std::int32_t profile;
    // Analogue signals the configuration names that no build writes: the rule evaluation inserts
    // each into the snapshot, under the snapshot lock. Every reload names new ones.
    int unknown_names;
};

// The unicom example configuration with `unknown_names` analogue signals of reload `generation`
// that are no snapshot member.
std::string configuration_text(int unknown_names, int generation) {
    std::ifstream example(PX46_EXAMPLES_DIR "/unicom.yaml", std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(example)), std::istreambuf_iterator<char>());
    std::string names;
    for (int k = 0; k < unknown_names; ++k) {
        names += "  未知信号" + std::to_string(generation) + "-" + std::to_string(k) + ": \"0406199001,x\"\n";
    }
    const std::size_t section = text.find("\nAI:\n");
    if (section == std::string::npos) throw std::runtime_error("the example has no AI section");
    return text.insert(section + 5, names);
}

class DeviceUnderHostThreads : public testing::TestWithParam<StressCase> {};

TEST_P(DeviceUnderHostThreads, PublishesWholeImagesAndAnswersEveryRequest) {
    const std::int32_t profile = GetParam().profile;
    TempWorkDir work;
    const int unknown_names = GetParam().unknown_names;
    work.write("ini/1.yaml", configuration_text(unknown_names, 0));
    Json::Value settings(Json::objectValue);
    settings["appSetting"]["b_mode"] = profile;
    settings["aoReportSetting"]["0406101001"]["absBand"] = 0.5;
    const auto references = reference_snapshots(profile);

    TickingClock clock;
    Findings findings;
    SimulatedUnit unit;
    TestDevice device;
    device.set_clock(clock);
    device.set_observer(&findings);
    device.set_diagnostic_sink(framework::silent_sink());  // a line per request
    device.Init(std::weak_ptr<SMDController>(), 1, Json::Value(Json::objectValue));
    BusPump pump(device, unit);

    std::atomic<bool> stop_requests{false};
    std::atomic<bool> stop_polling{false};
    std::atomic<long> rounds{0};
    std::atomic<long> writes{0};
    // A round is started only when no write waits on the line: a new round would abandon it. The
    // requests that start a transaction take the same lock.
    std::mutex line;

    device.InitSetting(settings);
    std::vector<std::thread> requests;
    std::atomic<bool> requests_begun{false};
    std::thread polling([&] {
        polling_here = true;
        // The first round's rule evaluation meets requests already under way.
        while (!requests_begun) std::this_thread::yield();
        for (long r = 0; !stop_polling; ++r) {
            for (int reg = 0; reg < kImageRegisters; ++reg) {
                unit.set(reg, static_cast<std::uint16_t>(r % kImages + 1));
            }
            {
                std::lock_guard<std::mutex> hold(line);
                pump.pump_all();
                device.RefreshStatus();
            }
            pump.pump_all();
            ++rounds;
        }
        pump.pump_all();
    });
    auto on_request_thread = [&](auto body) {
        requests.emplace_back([&, body] {
            for (int i = 0; !stop_requests; ++i) {
                body(i);
                std::this_thread::sleep_for(1ms);
            }
        });
    };

    on_request_thread([&](int) {  // 801: the text of one build
        requests_begun = true;
        std::vector<char> out(4 << 20);
        int out_len = 0;
        if (device.DeviceIoControl(801, nullptr, 0, out.data(), static_cast<int>(out.size()), out_len) != 0) {
            return findings.fault("801 failed");
        }
        Json::Value snapshot;
        if (!Json::Reader().parse(std::string(out.data(), static_cast<std::size_t>(out_len)), snapshot)) {
            return findings.fault("801 text does not parse");
        }
        if (!snapshot.isMember("更新时间")) return;  // no round completed yet
        const std::string time = snapshot["更新时间"].asString();
        snapshot.removeMember("更新时间");
        const unsigned k = snapshot["系统硬件编码"].asUInt();
        const auto reference = references.find(k);
        if (reference == references.end() || !holds_image(snapshot, reference->second)) {
            return findings.fault("801 text mixes images (hardware code " + std::to_string(k) + ")");
        }
        findings.snapshot_seen(time, k);
    });
    on_request_thread([&](int) {  // 803
        void* address = nullptr;
        int out_len = 0;
        if (device.DeviceIoControl(803, nullptr, 0, &address, sizeof address, out_len) != 0 ||
            address != &device.json_.root()) {
            findings.fault("803 did not give the snapshot's address");
        }
    });
    on_request_thread([&](int) {  // value queries
        try {
            device.Get_Value(1, "x");
            findings.fault("Get_Value returned");
        } catch (const std::out_of_range&) {
        }
    });
    on_request_thread([&](int i) {  // writes and control requests, one transaction at a time
        const std::uint16_t words[] = {static_cast<std::uint16_t>(kWriteRegister + i % 4),
                                       static_cast<std::uint16_t>(i), 7, 8};
        const int code = i % 4 == 0 ? 310 : i % 4 == 1 ? 320 : i % 4 == 2 ? 206 : 210;
        int out_len = 0;
        std::int32_t outcome = -1;
        {
            std::lock_guard<std::mutex> hold(line);
            const std::string json = R"({"signal_id":"0406101001"})";
            if (code == 310 || code == 320) {
                device.DeviceIoControl(code, json.data(), static_cast<int>(json.size()), nullptr, 0, out_len);
                return;
            }
            device.DeviceIoControl(code, words, code == 206 ? 4 : 8, nullptr, 0, out_len);
        }
        for (int waited = 0; outcome == -1 && waited < 10000; ++waited) {
            std::this_thread::sleep_for(1ms);
            device.DeviceIoControl(999, nullptr, 0, &outcome, sizeof outcome, out_len);
        }
        if (outcome != 1 && outcome != 3) findings.fault("a write got no outcome");
        ++writes;
    });
    on_request_thread([&](int) {  // cached records: the last published one
        const std::vector<unsigned char> record = findings.last_record();
        if (!record.empty() && !device.LoadFromCache(record.data(), static_cast<int>(record.size()))) {
            findings.fault("a whole cached record was refused");
        }
    });
    on_request_thread([&](int i) {  // configuration reloads
        if (i % 8 != 0) return;
        if (unknown_names > 0) work.write("ini/1.yaml", configuration_text(unknown_names, i / 8 + 1));
        device.InitSetting(settings);
    });

    std::this_thread::sleep_for(2s);
    stop_requests = true;
    for (auto& t : requests) t.join();
    stop_polling = true;
    polling.join();

    EXPECT_EQ(findings.all_faults(), std::vector<std::string>());
    EXPECT_GE(findings.polled_completions, 10) << "of " << rounds << " rounds";
    std::printf("%ld rounds, %ld completed, %ld writes answered\n", rounds.load(),
                findings.polled_completions, writes.load());
}

// Value queries take no lock, yet the round time they judge the data's age by is written by round
// completions on another thread: with no pause on either side, a query that read it unguarded
// would meet a completion's write, which ThreadSanitizer reports.
TEST(ValueQueries, AnswerWhileRoundsCompleteOnAnotherThread) {
    TestDevice device;
    device.set_diagnostic_sink(framework::silent_sink());
    device.b_mode_ = 2;  // no snapshot: completions follow each other closely
    const std::vector<unsigned char> record(px46tr_k::kRecordSize);
    std::atomic<long> answered{0};
    std::thread loads([&] {
        while (answered < 2000) device.LoadFromCache(record.data(), static_cast<int>(record.size()));
    });
    std::map<std::string, long> answers;
    while (answered < 2000) {
        try {
            device.Get_Value(1, "x");
        } catch (const std::out_of_range& e) {
            if (++answers[e.what()] && std::string(e.what()) != "数据未就绪") ++answered;
        }
    }
    loads.join();
    answers.erase("数据未就绪");
    EXPECT_EQ(answers, (std::map<std::string, long>{{"不支持变量", 2000}}));
}

INSTANTIATE_TEST_SUITE_P(Profiles, DeviceUnderHostThreads,
                         testing::Values(StressCase{"unicom_with_rules", 1, 0}, StressCase{"telecom", 2, 0},
                                         StressCase{"unicom_naming_signals_outside_the_snapshot", 1, 1000}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
