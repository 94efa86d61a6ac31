#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "repeated_failures.h"

namespace {

// One round as the runner books it: its cause ("" for a completed round), then what it prints.
struct Round {
    std::string cause;
    std::vector<std::string> printed;  // "own" for its own line, else a summary line
};

void run_table(const std::vector<Round>& rounds, const std::string& summary_at_end) {
    RepeatedFailures repeats;
    for (std::size_t i = 0; i < rounds.size(); ++i) {
        const int round = static_cast<int>(i) + 1;
        const bool own = rounds[i].cause.empty() || repeats.first_of_its_kind(round, rounds[i].cause);
        if (rounds[i].cause.empty()) repeats.completed();
        std::vector<std::string> printed;
        if (own) {
            if (auto summary = repeats.take_summary()) printed.push_back(*summary);
            printed.push_back("own");
        }
        EXPECT_EQ(printed, rounds[i].printed) << "round " << round;
    }
    EXPECT_EQ(repeats.take_summary().value_or(""), summary_at_end);
}

TEST(RepeatedFailures, IdenticalFailuresFoldIntoOneCountedLine) {
    run_table({{"refused, next 30 s", {"own"}},
               {"refused, next 30 s", {}},
               {"refused, next 30 s", {}},
               {"refused, next 30 s", {}}},
              "rounds 2 to 4: not completed, 3 times the same as round 1");
}

TEST(RepeatedFailures, EachBackOffStepAndEachChangeOfCauseGetsItsOwnLine) {
    run_table({{"next 0.5 s", {"own"}},
               {"next 1.0 s", {"own"}},
               {"next 1.0 s", {}},
               {"no reply", {"round 3: not completed, 1 time the same as round 2", "own"}},
               {"", {"own"}},
               {"no reply", {"own"}}},
              "");
}

TEST(RepeatedFailures, ACompletedRoundEndsTheRepeats) {
    run_table({{"no reply", {"own"}},
               {"no reply", {}},
               {"", {"round 2: not completed, 1 time the same as round 1", "own"}},
               {"no reply", {"own"}}},
              "");
}

}  // namespace
