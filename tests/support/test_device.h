#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "driver/px46tr_k.h"
#include "driver/px46tr_k_data.h"

// The driver with its protected state opened up for tests.
class TestDevice : public PX46TR_K {
public:
    using PX46TR_K::ai_signals_;
    using PX46TR_K::alarm_changed_;
    using PX46TR_K::alarm_levels_;
    using PX46TR_K::alarm_names_;
    using PX46TR_K::alarm_rules_;
    using PX46TR_K::alarm_texts_;
    using PX46TR_K::alarm_thresholds_;
    using PX46TR_K::b_mode_;
    using PX46TR_K::bao_settings_;
    using PX46TR_K::check_seq_;
    using PX46TR_K::CheckAOReport;
    using PX46TR_K::CheckSignalThresholdMap;
    using PX46TR_K::data_;
    using PX46TR_K::data_id_;
    using PX46TR_K::data_ready_;
    using PX46TR_K::json_;
    using PX46TR_K::json_mutex_;
    using PX46TR_K::json_time_;
    using PX46TR_K::low2_thresholds_;
    using PX46TR_K::low_thresholds_;
    using PX46TR_K::place_completed_record;
    using PX46TR_K::reply_regs_;
    using PX46TR_K::rule_values_;
    using PX46TR_K::serial_flag_;
    using PX46TR_K::step_;
    using PX46TR_K::up2_thresholds_;
    using PX46TR_K::up_thresholds_;
    using PX46TR_K::update_time_;
    using PX46TR_K::write_;

    std::vector<std::uint8_t> record() const {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(&data_);
        return std::vector<std::uint8_t>(bytes, bytes + sizeof data_);
    }
};
