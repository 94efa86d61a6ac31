#include "site_status.h"

#include <algorithm>
#include <utility>

#include <json/reader.h>

const char* round_state_name(RoundState state) {
    switch (state) {
        case RoundState::waiting:
            return "waiting";
        case RoundState::polling:
            return "polling";
        case RoundState::completed:
            return "completed";
        case RoundState::failed:
            return "failed";
        case RoundState::backing_off:
            return "back-off";
    }
    return "waiting";
}

std::size_t SiteStatus::add_line(std::string name) {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(LineStatus{std::move(name), LinkCounters{}});
    return lines_.size() - 1;
}

std::size_t SiteStatus::add_unit(std::size_t line, int unit, unsigned int data_id, std::string name) {
    std::lock_guard<std::mutex> lock(mutex_);
    UnitStatus status;
    status.line = line;
    status.unit = unit;
    status.data_id = data_id;
    status.name = std::move(name);
    units_.push_back(std::move(status));
    std::lock_guard<std::mutex> parsed(parsed_mutex_);
    parsed_.resize(units_.size());
    return units_.size() - 1;
}

void SiteStatus::add_round_listener(RoundListener listener) { listeners_.push_back(std::move(listener)); }

void SiteStatus::round_started(std::size_t unit) {
    std::lock_guard<std::mutex> lock(mutex_);
    units_.at(unit).state = RoundState::polling;
}

void SiteStatus::round_ended(std::size_t unit, RoundEnd end) {
    UnitStatus now;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        UnitStatus& status = units_.at(unit);
        status.state = end.completed     ? RoundState::completed
                       : end.backing_off ? RoundState::backing_off
                                         : RoundState::failed;
        ++(end.completed ? status.rounds_completed : status.rounds_failed);
        status.round_seconds_sum += end.seconds;
        const auto bucket =
            std::lower_bound(std::begin(kRoundDurationBounds), std::end(kRoundDurationBounds), end.seconds) -
            std::begin(kRoundDurationBounds);
        ++status.round_seconds_buckets[bucket];
        status.last_round_seconds = end.seconds;
        if (end.failure != LinkFailure::none) {
            status.last_failure = end.failure;
            status.last_error = std::move(end.error);
        }
        if (end.completed) {
            status.data_time = std::chrono::system_clock::now();
            if (end.snapshot) {
                status.snapshot = std::move(end.snapshot);
                ++status.snapshot_serial;
            }
        }
        ++rounds_ended_;
        if (!listeners_.empty()) now = status;
    }
    for (const auto& listener : listeners_) listener(unit, now);
}

void SiteStatus::line_counters(std::size_t line, const LinkCounters& counters) {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.at(line).counters = counters;
}

std::vector<UnitStatus> SiteStatus::units() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return units_;
}

UnitStatus SiteStatus::unit(std::size_t unit) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return units_.at(unit);
}

std::vector<LineStatus> SiteStatus::lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

std::optional<std::size_t> SiteStatus::unit_with_data_id(unsigned int data_id) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (std::size_t i = 0; i < units_.size(); ++i) {
        if (units_[i].data_id == data_id) return i;
    }
    return std::nullopt;
}

std::uint64_t SiteStatus::rounds_ended() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return rounds_ended_;
}

std::shared_ptr<const Json::Value> SiteStatus::snapshot_tree(std::size_t unit) const {
    std::shared_ptr<const std::string> text;
    std::uint64_t serial = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        text = units_.at(unit).snapshot;
        serial = units_.at(unit).snapshot_serial;
    }
    if (!text) return nullptr;
    std::lock_guard<std::mutex> lock(parsed_mutex_);
    ParsedSnapshot& parsed = parsed_.at(unit);
    if (parsed.serial != serial) {
        auto tree = std::make_shared<Json::Value>();
        Json::CharReaderBuilder builder;
        const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
        std::string errors;
        if (!reader->parse(text->data(), text->data() + text->size(), tree.get(), &errors)) tree.reset();
        parsed = ParsedSnapshot{serial, std::move(tree)};
    }
    return parsed.tree;
}
