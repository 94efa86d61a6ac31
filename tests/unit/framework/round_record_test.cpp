#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include <boost/date_time/posix_time/posix_time.hpp>

#include "framework/round_record.h"

namespace {

#pragma pack(push, 1)
struct SmallRecord {
    std::uint32_t data_id;
    std::uint8_t block[4];
    ttime round_stamp;
};
#pragma pack(pop)

// The snapshot is built from the completed copy only: blocks of a round under way stay out of it
// until that round completes, and the round's age counts from its completion.
TEST(RoundRecord, BlocksReachTheCompletedCopyOnlyWhenTheRoundCompletes) {
    const auto at = boost::posix_time::time_from_string("2026-12-07 15:03:21");
    framework::RoundRecord<SmallRecord> round;
    EXPECT_FALSE(round.age_seconds(at));
    const std::uint8_t first[] = {1, 2, 3, 4};
    round.place_block(4, first, sizeof first);
    round.complete(at);
    const std::uint8_t second[] = {9, 9, 9, 9};
    round.place_block(4, second, sizeof second);
    const unsigned char* completed = round.completed_bytes();
    EXPECT_EQ(std::vector<std::uint8_t>(completed + 4, completed + 15),
              (std::vector<std::uint8_t>{1, 2, 3, 4, 0xea, 0x07, 12, 7, 15, 3, 21}));
    EXPECT_EQ(round.age_seconds(at + boost::posix_time::seconds(61)), 61);
}

}  // namespace
