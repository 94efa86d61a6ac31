#pragma once

#include <array>
#include <cstddef>
#include <vector>

#include "catalogue/px46tr_k_data.h"
#include "host/rule_value.h"
#include "host/sp_modbus.h"

namespace bench {

// The stand-in host's share of a PX46TR_K polling round, without the plug-in: a device that issues
// the same 62 reads, copies each reply into a record of the same size, and at the end of the round
// makes the host calls of round completion (publication, reset, the batch check with nothing
// gathered, the history), and nothing else: no snapshot, no alarm reports, no rules.
class HostOnlyDevice : public SPModbus {
public:
    bool RefreshStatus() override;
    int process_payload(tab_type table, unsigned int count) override;

    // Rounds completed so far.
    std::size_t rounds() const { return rounds_; }

private:
    std::array<unsigned char, sizeof(PX46TR_K_Data_t)> record_{};
    std::size_t next_row_ = 0;
    std::size_t rounds_ = 0;
    const std::vector<rule_value> nothing_gathered_{};
};

}  // namespace bench
