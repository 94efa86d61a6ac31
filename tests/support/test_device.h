#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "catalogue/px46tr_k_data.h"
#include "driver/px46tr_k.h"

// The driver with its protected state opened up for tests: the parts of its state whole, and
// what the tests set or read of the device itself.
class TestDevice : public PX46TR_K {
public:
    framework::RoundRecord<PX46TR_K_Data_t>& round_record() { return *this; }
    px46tr_k::WriteTransaction& write_transaction() { return write_; }

    using PX46TR_K::alarm_changed_;
    using PX46TR_K::alarm_configuration;
    using PX46TR_K::alarm_levels_;
    using PX46TR_K::alarm_thresholds_;
    using PX46TR_K::b_mode_;
    using PX46TR_K::bao_settings_;
    using PX46TR_K::check_seq_;
    using PX46TR_K::CheckAOReport;
    using PX46TR_K::data_ready_;
    using PX46TR_K::json_;
    using PX46TR_K::json_mutex_;
    using PX46TR_K::json_time_;
    using PX46TR_K::rule_values_;
    using PX46TR_K::serial_flag_;
    using PX46TR_K::step_;
    using PX46TR_K::update_time_;

    std::vector<std::uint8_t> record() const {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(&data_);
        return std::vector<std::uint8_t>(bytes, bytes + sizeof data_);
    }
};
