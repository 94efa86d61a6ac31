#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "catalogue/control_codes.h"

namespace px46tr_k {

// A register write under way: the value its reply must echo and the outcome the host reads back.
// A request thread begins it; the polling thread judges the reply the unit sends to it. Each
// field is atomic, so the two threads hand it over without a lock; the awaited step stays the
// device's own (the code of the write, see control_codes.h).
class WriteTransaction {
public:
    // A write is about to be sent: the reply must echo `expected` (the value of a single write,
    // the count of a multiple one); the outcome is pending until the reply is judged.
    void begin(std::int32_t expected) {
        write_result_ = kWritePending;
        write_expect_ = expected;
    }
    // Another request took the line: whatever the last write's outcome was, it is pending again.
    void abandon() { write_result_ = kWritePending; }
    // Judges the reply to the write awaited at `step`: a single write is confirmed when it echoes
    // the value, a multiple one when it echoes function 16 and the count; refused otherwise (a
    // reply too short to compare included). Returns the outcome, now kept.
    std::int32_t judge(int step, const std::vector<std::uint16_t>& reply) {
        const std::int32_t expected = write_expect_;
        const bool confirmed = step == kControlWriteRegister
                                   ? !reply.empty() && reply[0] == expected
                                   : reply.size() >= 2 && reply[0] == 16 && reply[1] == expected;
        const std::int32_t outcome = confirmed ? kWriteConfirmed : kWriteRefused;
        write_result_ = outcome;
        return outcome;
    }
    std::int32_t outcome() const { return write_result_; }
    std::int32_t expected() const { return write_expect_; }

    // Written by a request thread, read and judged by the polling thread.
    std::atomic<std::int32_t> write_result_{kWritePending};
    std::atomic<std::int32_t> write_expect_{-1};
};

}  // namespace px46tr_k
