#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <json/value.h>

#include "catalogue/control_codes.h"
#include "catalogue/px46tr_k_data.h"
#include "catalogue/signal_catalogue.h"
#include "driver/write_transaction.h"
#include "framework/uni_data_device.h"
#include "host/sp_modbus.h"

// The driver of the power-distribution monitoring unit: polls the unit's register image into the
// record, builds the snapshot of its signals, reports its alarm flags and answers control
// requests.
class PX46TR_K : public framework::UniDataDevice<PX46TR_K_Data_t, SPModbus, px46tr_k::kDataTypeCode> {
public:
    PX46TR_K();
    ~PX46TR_K() override;

    // Stores the data identifier in the record, then loads the configuration.
    bool InitSetting(const Json::Value& settings) override;

    // Starts a polling round at the first read of the register map; always true.
    bool RefreshStatus() override;
    // Places one reply of a round in the record and issues the next read, completing the round
    // after the last; checks the reply of a pending write. 1 when a further read was issued (or
    // no reply was awaited), 0 when the round or the write has ended.
    int process_payload(tab_type table, unsigned int count) override;

    // The unit's own alarm flags, reported under the unicom profile only: the system total alarm,
    // the feeders' over-upper and over-upper-upper current alarms, the 24 incoming-line alarms and
    // the feeders' switch-opened flags, in that order. Only alarms whose name the configuration
    // maps to an identifier are reported, each with its state and the next serial. The configured
    // alarms are bound to their places in the report order when a round first sees the rules
    // changed, and only those are walked. Runs within round completion, which holds the alarm
    // rules still; takes no lock.
    void RunCheckThreshold() override;
    // Report feeder n's alarm of one family from one unpacked flag (0 or 1), its name composed
    // from `prefix` and n and looked up in the rules; nothing under another profile. Return the
    // flags consumed, always 1. A round reports the same alarms through the binding instead.
    int _px46tr_k_FeederCurrentHAlert_alert(const std::uint8_t* flag, const char* prefix, int n);
    int _px46tr_k_FeederCurrentHHAlert_alert(const std::uint8_t* flag, const char* prefix, int n);
    int _px46tr_k_FeederSwitchOpenAlert_alert(const std::uint8_t* flag, const char* prefix, int n);

protected:
    // The register write under way, begun by a request thread and judged by the polling thread.
    px46tr_k::WriteTransaction write_;

private:
    void bind_alarms();
    void report_unit_alarm(const std::string& id, const std::string& name, bool active);
    void report_if_configured(const std::string& name, bool active);
    int report_feeder_alarm(const px46tr_k::FeederFlagFamily& family, const std::uint8_t* flag,
                            const char* prefix, int n);

    // A configured unit alarm: its place in px46tr_k::reportable_alarms() and its identifier.
    struct BoundAlarm {
        std::size_t position;
        std::string id;
    };
    // The rules the alarms were last bound from and the alarms they configure, in report order.
    // Rebound by the round that finds alarm_rules_ changed (a configuration loaded, or the table edited);
    // used by round completion only (round_mutex_).
    struct AlarmBinding {
        std::map<std::string, std::string> rules;
        std::vector<BoundAlarm> alarms;
    } alarm_binding_;

    // The cache loads seen when the round under way began; set by RefreshStatus, read by the
    // replies, on the polling thread.
    std::atomic<std::uint32_t> round_image_loads_{0};

    // --- Snapshot, control requests and value queries ------------------------------------------
public:
    // Rebuilds the snapshot json_ from the record once per completed round (update_time_), with
    // json_mutex_ held throughout: every member of the signal catalogue, the "AlertArray" entries
    // and "更新时间". The first build inserts the members; later ones assign their values in
    // place. Members are never removed; a tree that its holder has edited since is built anew,
    // with the alarm-only entries the device has raised before.
    void GenJsonData() override;

    // Writes (206, 210), control requests passed to the host (310, 320), the snapshot as text
    // (801) or by address (803, pointer width); any other code copies the outcome of the last
    // write (-1 pending, 1 confirmed, 3 refused) into the first 4 bytes of `out` and passes the
    // request to the host. Returns 0 or -1, or the host handler's result. Input too short or too
    // long for its code, negative sizes, and null buffers with positive sizes that the request
    // would read or write give -1 and change nothing. out_len is always set.
    int DeviceIoControl(int code, const void* in, int in_len, void* out, int out_size, int& out_len) override;

    // Answers no value: always throws std::out_of_range, with "数据未就绪" before the first round,
    // "数据已超时" when the last round is 61 seconds old or more, "不支持变量" otherwise.
    std::string Get_Value(unsigned int id, const std::string& name) const override;

protected:
    // Snapshot writers over the catalogue, for a caller holding json_mutex_ (GenJsonData walks the
    // catalogue itself). Each composes its members' names from the prefix and the number or texts
    // after it with the catalogue's formats, has the catalogue entries of the canonical names
    // (empty prefix, feeder flags "出线支路") decode the bytes it is given, and writes each member
    // as the build does: in a build into the entry's slots when the composed name is the entry's
    // own, otherwise by name. A name outside the catalogue throws std::out_of_range. Parameters
    // named `unused` keep the writers' common shape.
    // One incoming line's five measurements, from a copy of its 28-byte block.
    void _px46tr_k_Inline(const std::uint8_t* block, const char* prefix, int unused, const char* letter);
    // The fifteen measurements of a group of three feeders, from a copy of its 72-byte block.
    void _px46tr_k_Feeder(const std::uint8_t* group, const char* prefix, int unused, const char* first,
                          const char* second, const char* third);
    // Feeder n's switch state, from its register's two bytes.
    void _px46tr_k_SwitchStatus(const std::uint8_t* state, const char* prefix, int n, const char* unused);
    // Feeder n's flag of one family, from its unpacked flag byte (0 or 1); prefix "出线支路".
    void _px46tr_k_FeederSwitchAlert(const std::uint8_t* flag, const char* prefix, int n, const char* unused);
    void _px46tr_k_FeederCurrentHAlert(const std::uint8_t* flag, const char* prefix, int n,
                                       const char* unused);
    void _px46tr_k_FeederCurrentHHAlert(const std::uint8_t* flag, const char* prefix, int n,
                                        const char* unused);
    void _px46tr_k_FeederSwitchOpenAlert(const std::uint8_t* flag, const char* prefix, int n,
                                         const char* unused);

private:
    // The member at `position` in the catalogue, from the integer its source holds, into its slots.
    void write_member(std::size_t position, std::int64_t raw);
    // A writer's member `name`, decoded by the catalogue entry `entry_name` from its field's bytes.
    void write_adapted(const std::string& name, const std::string& entry_name, const std::uint8_t* field);
    // Where the build writes the value of the member at `position` (object null), or its entry in
    // `object`.
    Json::Value& member_slot(std::size_t position, const char* object);
    // One control request's arguments; out_len is the caller's.
    struct ControlCall {
        int code;
        const void* in;
        int in_len;
        void* out;
        int out_size;
        int& out_len;
    };
    // A request code with handling of its own; any other code reads the write's outcome.
    struct ControlRoute {
        int code;
        int (PX46TR_K::*handle)(const ControlCall&);
    };
    static const ControlRoute kControlRoutes[];
    int write_registers(const ControlCall& call);
    int pass_request(const ControlCall& call);
    int snapshot_text_request(const ControlCall& call);
    int snapshot_address_request(const ControlCall& call);
    int write_outcome_request(const ControlCall& call);
    int snapshot_text(void* out, int out_size, int& out_len);
    bool refused_in_rule_evaluation() const;

    // A build is under way (json_mutex_): values go to the slots of json_, one per catalogue
    // position and one per entry. Finding the members happens once, at a slot's first write.
    bool building_ = false;
    // The alarm-only entries the device has raised, by catalogue position (json_mutex_): a tree
    // built anew after its holder edited it holds them again. Empty until the first build.
    std::vector<bool> raised_alarm_only_;
};
