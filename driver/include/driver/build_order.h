#pragma once

#include "driver/signal_catalogue.h"

// The order in which the snapshot build writes its members and the unit's alarm report makes its
// reports. The build, the report and the catalogue walk these lists, so each order is written
// once; the writer and reporter operations stay what each step calls.
namespace px46tr_k {

struct OrderStep {
    enum class Kind {
        system_signals,        // kSystemSignals
        inline_lines,          // kInlineMeasurements of lines A and B
        feeder_groups,         // kFeederMeasurements of the 48 feeder groups
        inline_states,         // kInlineStateSignals
        feeder_switch_states,  // the 144 feeder switch states
        ambient,               // kAmbientSignals
        feeder_flags,          // one family of feeder flags, feeders 1 to 144
        inline_alarms,         // the 24 incoming-line alarms
        system_total_alarm,    // the system total alarm, as a report
        update_time,           // "更新时间"
    };
    Kind kind;
    const FeederFlagFamily* family = nullptr;  // Kind::feeder_flags only
};

// The snapshot build, reading the record block after block.
inline constexpr OrderStep kSnapshotOrder[] = {
    {OrderStep::Kind::system_signals},
    {OrderStep::Kind::inline_lines},
    {OrderStep::Kind::feeder_groups},
    {OrderStep::Kind::inline_states},
    {OrderStep::Kind::feeder_switch_states},
    {OrderStep::Kind::ambient},
    {OrderStep::Kind::feeder_flags, &kFeederSwitchAlarm},
    {OrderStep::Kind::feeder_flags, &kFeederCurrentHigh},
    {OrderStep::Kind::feeder_flags, &kFeederCurrentHighHigh},
    {OrderStep::Kind::inline_alarms},
    {OrderStep::Kind::feeder_flags, &kFeederSwitchOpen},
    {OrderStep::Kind::update_time},
};

// The unit's alarm report under the unicom profile.
inline constexpr OrderStep kAlarmReportOrder[] = {
    {OrderStep::Kind::system_total_alarm},
    {OrderStep::Kind::feeder_flags, &kFeederCurrentHigh},
    {OrderStep::Kind::feeder_flags, &kFeederCurrentHighHigh},
    {OrderStep::Kind::inline_alarms},
    {OrderStep::Kind::feeder_flags, &kFeederSwitchOpen},
};

}  // namespace px46tr_k
