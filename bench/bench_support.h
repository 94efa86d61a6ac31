#pragma once

// What the bench programs share: a clock moved by hand, a working folder holding the unicom example
// configuration, a simulated unit whose values drift, a device set up against both, and the
// process's resident memory.
#include <filesystem>
#include <string>
#include <vector>

#include <json/value.h>

#include "driver/px46tr_k.h"
#include "framework/clock.h"
#include "host/sp_modbus.h"
#include "host_runtime/bus_pump.h"
#include "host_runtime/simulated_unit.h"

namespace bench {

// Seconds between two polling rounds of a unit on a 9600-baud line.
inline constexpr int kRoundSeconds = 5;

// A clock that stands still until advanced, by a fixed step each time; every advance gives the
// next round a new stamp, so its completion rebuilds the snapshot.
class SteppedClock : public framework::Clock {
public:
    explicit SteppedClock(int step_seconds = kRoundSeconds) : step_seconds_(step_seconds) {}
    boost::posix_time::ptime local_now() const override { return now_; }
    std::time_t epoch_now() const override { return 1796000000 + seconds_; }
    void advance() {
        now_ += boost::posix_time::seconds(step_seconds_);
        seconds_ += step_seconds_;
    }

private:
    int step_seconds_;
    boost::posix_time::ptime now_{boost::gregorian::date(2026, 12, 8)};
    long seconds_ = 0;
};

// A scratch folder under the system's temporary folder, made the working folder for the lifetime
// of this object (a device reads ./ini/<data-id>.yaml), removed afterwards.
class ExampleWorkFolder {
public:
    explicit ExampleWorkFolder(const std::string& name);
    ~ExampleWorkFolder();
    ExampleWorkFolder(const ExampleWorkFolder&) = delete;
    ExampleWorkFolder& operator=(const ExampleWorkFolder&) = delete;

    // Installs the unicom example configuration as the device `data_id`'s (ini/<data_id>.yaml).
    void configure(unsigned int data_id) const;

private:
    std::filesystem::path folder_;
    std::filesystem::path previous_;
};

// Writes the unicom example configuration with `unknown_names` more analogue signals, named
// "未知信号1" and on, that are no snapshot member, as the device `data_id`'s (ini/<data_id>.yaml of
// the working folder): each round's rule evaluation looks every one of them up in the snapshot.
void configure_unknown_names(unsigned int data_id, int unknown_names);

// A simulated unit holding the simulator's default scenario (a live unit) whose measurements move
// and energies count up as the simulator's drift moves them. The drift is computed once for all
// units as a cycle of frames; a unit's drift() stores the next frame's moving registers only (a
// few hundred stores), so that it can run inside a timed round. `phase` picks the frame a unit
// starts at, so that units side by side do not hold the same values.
class DriftingUnit : public SimulatedUnit {
public:
    explicit DriftingUnit(unsigned int phase = 0);
    void drift();
    // The registers a drift step stores.
    static std::size_t moving_registers();

private:
    std::size_t frame_;
};

// The settings object the bench devices get: a report band for line A's voltage, so that the
// analogue report check runs every round.
Json::Value example_settings();

// Sets a constructed device up as a host would: the clock, no diagnostic lines, its data
// identifier, then InitSetting with example_settings(), which loads ini/<data_id>.yaml of the
// working folder.
void set_up_example_device(PX46TR_K& device, const framework::Clock& clock, unsigned int data_id);

// One polling round as a host drives it: the unit's values move, the clock moves on by a round (a
// new stamp), then the device starts its round and the pump carries its reads and replies until
// none is queued; a PX46TR_K completes the round on the last reply. Returns the requests carried
// (62 when the round went through).
std::size_t polling_round(SPModbus& device, BusPump& pump, DriftingUnit& unit, SteppedClock& clock);

// A device of the example configuration with its own clock and drifting unit, set up and polled
// for `warm_up_rounds` rounds.
struct PolledExampleDevice {
    PolledExampleDevice(unsigned int data_id, int warm_up_rounds);
    std::size_t round() { return polling_round(device, pump, unit, clock); }

    SteppedClock clock;
    DriftingUnit unit;
    PX46TR_K device;
    BusPump pump{device, unit};
};

// Request 801 into `out`: the snapshot text's length, or -1 when the device refused it.
int request_snapshot_text(PX46TR_K& device, std::vector<char>& out);

// The process's resident memory in KB (/proc/self/statm).
long resident_kb();

}  // namespace bench
