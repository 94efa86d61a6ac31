#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "driver/write_transaction.h"

namespace {

using px46tr_k::WriteTransaction;

struct WriteReplyCase {
    int step;
    int expect;
    std::vector<std::uint16_t> reply;
    int result;
};

TEST(WriteTransaction, OutcomeFollowsTheEcho) {
    const WriteReplyCase cases[] = {
        {206, 1, {1}, 1},         {206, 1, {2}, 3},
        {206, 65535, {65535}, 1}, {206, 1, {}, 3},  // no word to compare
        {210, 2, {16, 2}, 1},     {210, 2, {16, 3}, 3},
        {210, 2, {6, 2}, 3},      {210, 2, {16}, 3},  // too short to compare
    };
    for (const auto& c : cases) {
        WriteTransaction write;
        write.begin(c.expect);
        EXPECT_EQ(write.outcome(), -1);
        EXPECT_EQ(write.judge(c.step, c.reply), c.result) << "step " << c.step << " expect " << c.expect;
        EXPECT_EQ(write.outcome(), c.result);
    }
}

}  // namespace
