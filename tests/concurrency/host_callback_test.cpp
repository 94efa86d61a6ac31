// A host that calls back into its device from inside the host operations that round completion
// calls: every device call from every such operation, on the completing thread and on another
// thread, is served, refused or waits exactly as the table for host writers says, and never
// crashes, hangs (a watchdog ends the run) or stores a record it did not publish.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <ostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "catalogue/register_map.h"
#include "device_harness.h"
#include "temp_work_dir.h"

namespace {

enum class Answer { served, refused, waits };

// A host operation of round completion, told apart by the profile it runs under: under profile 1
// CheckThresholdBool carries the unit's alarm flags, under 3 and 5 the rules' reports.
struct HostOperation {
    const char* label;
    const char* call;
    std::int32_t profile;
    bool in_rule_evaluation;  // made while the rule evaluation holds the snapshot
};

const HostOperation kOperations[] = {
    {"SendSP", "SendSP", 1, false},
    {"Reset", "Reset", 3, false},
    {"UnitAlarmReport", "CheckThresholdBool", 1, false},
    {"CheckThreshold", "CheckThreshold", 1, true},
    {"CheckAOReport", "CheckAOReport", 1, true},
    {"MobileRuleReport", "CheckThresholdBool", 3, true},
    {"ThresholdGroupReport", "CheckThresholdBool", 5, true},
    {"DoBatchCheckThreshold", "DoBatchCheckThreshold", 5, false},
    {"SaveDeviceHistory", "SaveDeviceHistory", 1, false},
};

// What a device call sees: the device's harness and the records it has published so far.
struct Context {
    DeviceHarness& h;
    const std::atomic<int>& published;
};

// A device call made from inside a host operation: true when it was answered as served.
struct DeviceCall {
    const char* label;
    std::function<bool(Context&)> make;
    // Same thread, another thread: outside the rule evaluation, then inside it.
    Answer same_outside, other_outside, same_inside, other_inside;
};

bool snapshot_request(Context& c, int code) {
    std::vector<char> out(1 << 20);
    int out_len = 0;
    return c.h.device.DeviceIoControl(code, nullptr, 0, out.data(), static_cast<int>(out.size()), out_len) ==
           0;
}

const std::vector<unsigned char>& cached_record() {
    static const std::vector<unsigned char> record(px46tr_k::kRecordSize, 0x11);
    return record;
}

const DeviceCall kDeviceCalls[] = {
    {"Get_Value",
     [](Context& c) {
         try {
             c.h.device.Get_Value(1, "环境温度");
         } catch (const std::out_of_range& e) {
             return std::string(e.what()) == "不支持变量";
         }
         return false;
     },
     Answer::served, Answer::served, Answer::served, Answer::served},
    {"SnapshotText", [](Context& c) { return snapshot_request(c, 801); }, Answer::served, Answer::served,
     Answer::refused, Answer::waits},
    {"SnapshotAddress", [](Context& c) { return snapshot_request(c, 803); }, Answer::served, Answer::served,
     Answer::refused, Answer::waits},
    {"Writes",
     [](Context& c) {
         const std::uint16_t words[] = {9000, 7, 8};
         int out_len = 0;
         return c.h.device.DeviceIoControl(206, words, 4, nullptr, 0, out_len) == 0 &&
                c.h.device.DeviceIoControl(210, words, 6, nullptr, 0, out_len) == 0;
     },
     Answer::served, Answer::served, Answer::served, Answer::served},
    {"ControlRequests",
     [](Context& c) {
         const std::string json = R"({"signal_id":"0406101001"})";
         const int length = static_cast<int>(json.size());
         int out_len = 0;
         return c.h.device.DeviceIoControl(310, json.data(), length, nullptr, 0, out_len) == 0 &&
                c.h.device.DeviceIoControl(320, json.data(), length, nullptr, 0, out_len) == 0;
     },
     Answer::served, Answer::served, Answer::served, Answer::served},
    {"OtherCode",
     [](Context& c) {
         std::int32_t outcome = 0;
         int out_len = 0;
         return c.h.device.DeviceIoControl(999, nullptr, 0, &outcome, sizeof outcome, out_len) == 0 &&
                out_len == 4;
     },
     Answer::served, Answer::served, Answer::served, Answer::served},
    {"RefreshStatus", [](Context& c) { return c.h.device.RefreshStatus(); }, Answer::served, Answer::served,
     Answer::served, Answer::served},
    // The reply to the read the device awaits: the last one of the round being completed.
    {"ReadReply",
     [](Context& c) {
         const int before = c.published;
         c.h.device.deliver_reply(std::vector<std::uint16_t>(px46tr_k::kRegisterMap.back().count, 1));
         return c.published > before;
     },
     Answer::refused, Answer::waits, Answer::refused, Answer::waits},
    {"LoadFromCache",
     [](Context& c) {
         return c.h.device.LoadFromCache(cached_record().data(), static_cast<int>(cached_record().size()));
     },
     Answer::refused, Answer::waits, Answer::refused, Answer::waits},
    {"InitSetting",
     [](Context& c) {
         Json::Value settings(Json::objectValue);
         settings["appSetting"]["b_mode"] = c.h.device.b_mode_.load();
         return c.h.device.InitSetting(settings);
     },
     Answer::refused, Answer::waits, Answer::refused, Answer::waits},
    {"RoundDone",
     [](Context& c) {
         const int before = c.published;
         c.h.device.RoundDone();
         return c.published > before;
     },
     Answer::refused, Answer::waits, Answer::refused, Answer::waits},
};

// Ends the whole run when a case hangs: a deadlocked thread cannot be recovered.
class Watchdog {
public:
    explicit Watchdog(std::string what)
        : what_(std::move(what)), thread_([this] {
              std::unique_lock<std::mutex> lock(mutex_);
              if (!done_cv_.wait_for(lock, std::chrono::seconds(30), [this] { return done_; })) {
                  std::fprintf(stderr, "hung: %s\n", what_.c_str());
                  std::_Exit(1);
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        done_cv_.notify_one();
        thread_.join();
    }

private:
    std::string what_;
    std::mutex mutex_;
    std::condition_variable done_cv_;
    bool done_ = false;
    std::thread thread_;
};

// Records every host call, and makes the device call once, from inside the first host operation
// of the given name: on this thread, or on another thread that it waits for unless the call is
// one that waits for the completion (that thread is joined after the round).
class CallingBack : public HostCallObserver {
public:
    CallingBack(DeviceHarness& h, const char* operation, const DeviceCall& call, bool other_thread,
                Answer answer)
        : context_{h, published_},
          operation_(operation),
          call_(call),
          other_thread_(other_thread),
          answer_(answer) {}

    void on_host_call(const HostCall& c) override {
        context_.h.calls.on_host_call(c);
        if (c.name == "SendSP") ++published_;
        if (c.name != operation_ || fired_.exchange(true)) return;
        if (!other_thread_) {
            served_ = call_.make(context_);
        } else if (answer_ == Answer::waits) {
            waiting_ = std::thread([this] { served_ = call_.make(context_); });
        } else {
            std::thread([this] { served_ = call_.make(context_); }).join();
        }
    }
    // After the round: the call's answer, once it has been given.
    bool served() {
        if (waiting_.joinable()) waiting_.join();
        return served_;
    }
    bool fired() const { return fired_; }

private:
    std::atomic<int> published_{0};
    Context context_;
    const char* operation_;
    const DeviceCall& call_;
    bool other_thread_;
    Answer answer_;
    std::atomic<bool> fired_{false};
    std::atomic<bool> served_{false};
    std::thread waiting_;
};

void configure(TestDevice& device, std::int32_t profile) {
    device.b_mode_ = profile;
    device.alarm_configuration().alarm_rules_["系统总告警状态"] = "0417001001";
    device.alarm_configuration().ai_signals_["环境温度"] = {"0406101001", "0406101001"};
    device.bao_settings_["0406101001"].period_enabled = true;  // due at every round
    device.alarm_configuration().alarm_rules_["环境温度_1"] = "0406102001,upper";
    device.alarm_levels_["0406102001"] = 2;
    device.alarm_configuration().up_thresholds_["环境温度"] =
        framework::ThresholdRule{"0406103001", 10.f, 5.f, false, 2};
}

// Each completion publishes a record and then stores that same record: no completion nests in
// another, none stores what it did not publish.
std::vector<std::string> unpaired_records(const std::vector<HostCall>& calls) {
    std::vector<std::string> faults;
    std::string published;
    for (const auto& c : calls) {
        if (c.name == "SendSP") {
            if (!published.empty()) faults.push_back("a record published while another was being completed");
            published = c.args[1].asString();
        } else if (c.name == "SaveDeviceHistory") {
            if (c.args[0].asString() != published) faults.push_back("a record stored that was not published");
            published.clear();
        }
    }
    return faults;
}

using CallbackCase = std::tuple<HostOperation, DeviceCall, bool>;

class HostCallsBack : public testing::TestWithParam<CallbackCase> {};

TEST_P(HostCallsBack, ServedRefusedOrWaitingAsTheTableSays) {
    const auto& [operation, call, other_thread] = GetParam();
    const Answer answer = operation.in_rule_evaluation
                              ? (other_thread ? call.other_inside : call.same_inside)
                              : (other_thread ? call.other_outside : call.same_outside);
    TempWorkDir work;  // InitSetting finds no configuration file
    DeviceHarness h;
    configure(h.device, operation.profile);
    CallingBack observer(h, operation.call, call, other_thread, answer);
    h.device.set_observer(&observer);
    {
        const Watchdog watchdog(std::string(operation.label) + " x " + call.label);
        h.run_round();
        const bool served = observer.served();
        h.pump.pump_all();  // what the call queued
        ASSERT_TRUE(observer.fired()) << "the round made no " << operation.call;
        EXPECT_EQ(served, answer != Answer::refused);
    }
    const std::string log = h.log.take();
    const bool refusal_line = log.find(" refused: called back from ") != std::string::npos;
    EXPECT_EQ(refusal_line, answer == Answer::refused) << log;
    EXPECT_EQ(unpaired_records(h.calls.calls), std::vector<std::string>());
    EXPECT_GE(h.calls.named("SaveDeviceHistory").size(), 1u);
}

void PrintTo(const HostOperation& operation, std::ostream* out) { *out << operation.label; }
void PrintTo(const DeviceCall& call, std::ostream* out) { *out << call.label; }

std::string case_name(const testing::TestParamInfo<CallbackCase>& info) {
    const auto& [operation, call, other_thread] = info.param;
    return std::string(operation.label) + "_" + call.label + (other_thread ? "_OtherThread" : "_SameThread");
}

INSTANTIATE_TEST_SUITE_P(Table, HostCallsBack,
                         testing::Combine(testing::ValuesIn(kOperations), testing::ValuesIn(kDeviceCalls),
                                          testing::Bool()),
                         case_name);

}  // namespace
