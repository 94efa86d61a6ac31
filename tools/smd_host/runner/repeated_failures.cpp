#include "repeated_failures.h"

bool RepeatedFailures::first_of_its_kind(int round, const std::string& cause) {
    if (failing_ && cause == cause_) {
        if (first_held_ == 0) first_held_ = round;
        last_held_ = round;
        return false;
    }
    close_held();
    failing_ = true;
    cause_ = cause;
    printed_round_ = round;
    return true;
}

void RepeatedFailures::completed() {
    close_held();
    failing_ = false;
}

std::optional<std::string> RepeatedFailures::take_summary() {
    close_held();
    return std::exchange(summary_, std::nullopt);
}

void RepeatedFailures::close_held() {
    const int count = held();
    if (count == 0) return;
    std::string line = count == 1
                           ? "round " + std::to_string(first_held_)
                           : "rounds " + std::to_string(first_held_) + " to " + std::to_string(last_held_);
    line += ": not completed, " + std::to_string(count) + (count == 1 ? " time" : " times") +
            " the same as round " + std::to_string(printed_round_);
    summary_ = summary_ ? *summary_ + "\n" + line : line;
    first_held_ = last_held_ = 0;
}
