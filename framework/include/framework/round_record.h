#pragma once

#include <atomic>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <type_traits>

#include <boost/date_time/posix_time/posix_time_types.hpp>

#include "host/ttime.h"

namespace framework {

// The record a polling round fills, the copy of it the last completed round left, and what value
// queries and polling know of the rounds without a lock: the cache loads so far and the last
// round's time. Takes no lock itself: its device holds the round lock around every change, and
// json_mutex_ too around what the snapshot reads (the completed copy and the round's time).
template <typename Data>
class RoundRecord {
public:
    // What any round writes into the record: the round stamp in its last seven bytes (and the
    // device its data identifier in the first four).
    static_assert(std::is_standard_layout_v<Data>, "the record's fields are placed by offset");
    static_assert(offsetof(Data, data_id) == 0 && sizeof(Data::data_id) == sizeof(std::uint32_t),
                  "the data identifier is the record's first four bytes");
    static_assert(offsetof(Data, round_stamp) == sizeof(Data) - sizeof(ttime) &&
                      sizeof(Data::round_stamp) == sizeof(ttime),
                  "the round stamp is the record's last seven bytes");

    RoundRecord() {
        std::memset(static_cast<void*>(&data_), 0, sizeof data_);
        std::memset(static_cast<void*>(&completed_), 0, sizeof completed_);
    }

    unsigned char* record_bytes() { return reinterpret_cast<unsigned char*>(&data_); }
    // Copies one reply's block into the record at `offset`.
    void place_block(std::size_t offset, const void* words, std::size_t length) {
        std::memcpy(record_bytes() + offset, words, length);
    }
    // Replaces the whole record by a stored one, counting the load: a round under way that sees
    // the count change is abandoned.
    void load_record(const unsigned char* bytes) {
        std::memcpy(static_cast<void*>(&data_), bytes, sizeof data_);
        image_loads_.fetch_add(1);
    }
    // Completes the round at `now`: notes its time, stamps the record and keeps a copy of it as
    // the completed record.
    void complete(const boost::posix_time::ptime& now) {
        round_seconds_ = seconds_since_epoch(now);
        const ttime stamp = get_ttime(now);
        std::memcpy(record_bytes() + sizeof data_ - sizeof stamp, &stamp, sizeof stamp);
        std::memcpy(static_cast<void*>(&completed_), &data_, sizeof data_);
    }

    // The record of the last completed round, the only one the snapshot is built from, so a
    // request during a round never sees two rounds' blocks.
    const unsigned char* completed_bytes() const {
        return reinterpret_cast<const unsigned char*>(&completed_);
    }
    // Whole-record loads so far: a round notes it when it begins.
    std::uint32_t image_loads() const { return image_loads_.load(); }
    // Seconds from the last completed round to `now`; nothing before the first round.
    std::optional<std::int64_t> age_seconds(const boost::posix_time::ptime& now) const {
        const std::int64_t round = round_seconds_.load();
        if (round == kNoRoundYet) return std::nullopt;
        return seconds_since_epoch(now) - round;
    }

    Data data_;

private:
    static constexpr std::int64_t kNoRoundYet = INT64_MIN;

    static std::int64_t seconds_since_epoch(const boost::posix_time::ptime& t) {
        static const boost::posix_time::ptime epoch(boost::gregorian::date(1970, 1, 1));
        return (t - epoch).total_seconds();
    }

    Data completed_;
    std::atomic<std::uint32_t> image_loads_{0};
    // The last round's time as seconds since the epoch.
    std::atomic<std::int64_t> round_seconds_{kNoRoundYet};
};

}  // namespace framework
