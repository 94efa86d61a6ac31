#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <string>
#include <vector>

#include "host_runtime/patient_link.h"

namespace {

using namespace std::chrono_literals;

// What the scripted line answers to an attempt, or does to it.
enum class Answer { reply, timeout, busy, refused_exception, lost };

// A link whose line is a script: each attempt takes the next answer, opening fails as often as
// asked, and time is the link's own, moved only by its waits, which are recorded.
class ScriptedWire : public PatientLink {
public:
    ScriptedWire(LinkSettings settings, std::deque<Answer> answers, int failed_opens = 0)
        : PatientLink(parse_tcp_endpoint("127.0.0.1:1502"), std::move(settings)),
          answers_(std::move(answers)),
          failed_opens_(failed_opens) {}

    // What the line saw, in order: "open", "close", "attempt", "wait 0.1".
    std::vector<std::string> events;
    std::atomic<bool> stop{false};
    bool stop_on_first_wait = false;

private:
    bool open_line(std::string& error, WireEvent&) override {
        events.push_back("open");
        if (failed_opens_ > 0) {
            --failed_opens_;
            error = "cannot connect";
            return false;
        }
        return true;
    }
    void close_connection() override { events.push_back("close"); }
    void exchange(const ModbusRequest&, LinkResult& result) override {
        events.push_back("attempt");
        const Answer answer = answers_.empty() ? Answer::reply : answers_.front();
        if (!answers_.empty()) answers_.pop_front();
        switch (answer) {
            case Answer::reply:
                result.words = {1};
                break;
            case Answer::timeout:
                result.failure = LinkFailure::timeout;
                result.error = "no reply";
                break;
            case Answer::busy:
            case Answer::refused_exception:
                result.failure = LinkFailure::exception;
                result.exception_code = answer == Answer::busy ? 0x06 : 0x02;
                result.error = "exception";
                break;
            case Answer::lost:
                result.failure = LinkFailure::connection_lost;
                result.error = "reset";
                drop(result.error);
                break;
        }
        now_ += 10ms;  // the request's time on the line
    }
    Clock::time_point now() const override { return now_; }
    bool wait_until(Clock::time_point until) override {
        if (until <= now_) return true;
        char text[32];
        std::snprintf(text, sizeof text, "wait %g", std::chrono::duration<double>(until - now_).count());
        events.push_back(text);
        now_ = until;
        if (stop_on_first_wait) stop = true;
        return !stop;
    }

    std::deque<Answer> answers_;
    int failed_opens_;
    Clock::time_point now_ = Clock::time_point{} + 1h;
};

LinkSettings settings(void (*adjust)(LinkSettings&)) {
    LinkSettings s;
    s.retries = 0;
    if (adjust) adjust(s);
    return s;
}

const ModbusRequest kRead{ModbusRequest::Kind::read_registers, 0, 4, {}};

// The link's patience, attempt by attempt: what it asks of the line and how long it waits.
struct PatienceCase {
    const char* name;
    void (*adjust)(LinkSettings&);
    std::deque<Answer> answers;
    int requests;
    int failed_opens;
    bool stop_on_first_wait;
    std::vector<LinkFailure> results;  // of each request
    std::vector<std::string> events;
};

TEST(PatientLink, RetriesAndWaitsAsItsSettingsSay) {
    const std::vector<PatienceCase> cases = {
        {"a busy unit is asked again after each busy wait",
         [](LinkSettings& s) {
             s.busy_retries = 2;
             s.busy_wait = 1.5;
         },
         {Answer::busy, Answer::busy, Answer::reply},
         1,
         0,
         false,
         {LinkFailure::none},
         {"open", "attempt", "wait 1.5", "attempt", "wait 1.5", "attempt"}},
        {"busy retries end, then the exception stands",
         [](LinkSettings& s) { s.busy_retries = 1; },
         {Answer::busy, Answer::busy},
         1,
         0,
         false,
         {LinkFailure::exception},
         {"open", "attempt", "wait 1", "attempt"}},
        {"other exceptions are never asked again",
         [](LinkSettings& s) { s.busy_retries = 3; },
         {Answer::refused_exception},
         1,
         0,
         false,
         {LinkFailure::exception},
         {"open", "attempt"}},
        {"a stop ends the busy wait and the request",
         [](LinkSettings& s) {
             s.busy_retries = 100;
             s.busy_wait = 60;
         },
         {Answer::busy, Answer::busy},
         1,
         0,
         true,
         {LinkFailure::interrupted},
         {"open", "attempt", "wait 60"}},
        {"quiet after every connection, before its first request",
         [](LinkSettings& s) {
             s.pause_after_connect = 0.25;
             s.retries = 1;
         },
         {Answer::reply, Answer::lost, Answer::reply},
         2,
         0,
         false,
         {LinkFailure::none, LinkFailure::none},
         {"open", "wait 0.25", "attempt", "attempt", "close", "open", "wait 0.25", "attempt"}},
        {"quiet between requests counts from the end of the last",
         [](LinkSettings& s) { s.pause = 0.5; },
         {},
         2,
         0,
         false,
         {LinkFailure::none, LinkFailure::none},
         {"open", "attempt", "wait 0.5", "attempt"}},
        {"a time-out is retried as often as asked, no more",
         [](LinkSettings& s) { s.retries = 2; },
         {Answer::timeout, Answer::timeout, Answer::timeout, Answer::reply},
         1,
         0,
         false,
         {LinkFailure::timeout},
         {"open", "attempt", "attempt", "attempt"}},
        {"a failed connection is not tried again before its back-off",
         [](LinkSettings& s) { s.retries = 3; },
         {},
         2,
         1,
         false,
         {LinkFailure::no_connection, LinkFailure::no_connection},
         {"open"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedWire link(settings(c.adjust), c.answers, c.failed_opens);
        link.stop_on_first_wait = c.stop_on_first_wait;
        std::vector<LinkFailure> results;
        for (int i = 0; i < c.requests; ++i) results.push_back(link.transact(kRead).failure);
        EXPECT_EQ(results, c.results);
        EXPECT_EQ(link.events, c.events);
    }
}

TEST(PatientLink, ClosingAfterARoundOpensAgainAndCountsTheReconnection) {
    LinkSettings s;
    s.pause_after_connect = 2;
    ScriptedWire link(s, {});
    ASSERT_TRUE(link.transact(kRead).ok);
    link.close_line();
    EXPECT_FALSE(link.connected());
    const LinkResult again = link.transact(kRead);
    EXPECT_TRUE(again.ok);
    EXPECT_TRUE(again.first_on_connection);
    EXPECT_EQ(link.events,
              (std::vector<std::string>{"open", "wait 2", "attempt", "close", "open", "wait 2", "attempt"}));
    EXPECT_EQ(link.counters().reconnects, 1u);
    EXPECT_EQ(link.counters().requests, 2u);
}

}  // namespace
