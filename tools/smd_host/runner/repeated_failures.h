#pragma once

#include <optional>
#include <string>
#include <utility>

// Folds the summary lines of consecutive rounds that failed the same way into one line with a
// count, so that a unit that stays away does not fill standard error with copies.
class RepeatedFailures {
public:
    // Books a round that failed because of `cause`. True when its own line is to be printed: the
    // cause differs from the previous failed round's, or the previous round completed.
    bool first_of_its_kind(int round, const std::string& cause);
    // Books a completed round: the failures before it are no longer repeated.
    void completed();
    // The line for the failed rounds held back, if any, e.g. "rounds 5 to 9: not completed, 5 times
    // the same as round 4"; forgets them. Print it before the line of the round just booked.
    std::optional<std::string> take_summary();
    // Failed rounds held back since the last printed line.
    int held() const { return first_held_ == 0 ? 0 : last_held_ - first_held_ + 1; }

private:
    void close_held();

    std::string cause_;
    std::optional<std::string> summary_;
    bool failing_ = false;
    int printed_round_ = 0;
    int first_held_ = 0;
    int last_held_ = 0;
};
