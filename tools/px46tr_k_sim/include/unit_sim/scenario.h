#pragma once

#include <stdexcept>
#include <string>

#include <json/value.h>

#include "unit_sim/register_image.h"

// A scenario: what the simulated unit holds, as a JSON object. Its members are applied in this
// order, later ones winning:
//   "registers": {"REG": VALUE}      registers by address (decimal or 0x hex), 0 to 65535 each;
//   "signals":   {"NAME": VALUE}     snapshot signals by their names, in engineering values, encoded
//                                    with the unit's own scaling; coded states take their status word
//                                    ("分闸") or their code, flags true/false, "告警"/"正常" or 1/0;
//   "alarms":    ["NAME", ...] or {"NAME": true|false}   reportable alarms by name;
//   "comment":   any value, for the reader, not applied.
// Any other member is refused.
// The names are those of the driver's signal catalogue.
namespace unit_sim {

struct ScenarioError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Applies a scenario to an image; throws ScenarioError naming the first member it cannot apply.
void apply_scenario(const Json::Value& scenario, RegisterImage& image);
// The image of a scenario applied to a unit whose registers are all 0.
RegisterImage scenario_image(const Json::Value& scenario);
// Reads a scenario file; throws ScenarioError when it cannot be read or is not a JSON object.
Json::Value read_scenario(const std::string& path);

// A plausible live unit: both lines near 230 V, feeders carrying current, three feeder switches
// opened (state and opened flag), the last feeders idle, no fault alarm. Each unit id gets values
// of its own (its serial number, line and feeder measurements, energies, ambient), the same at
// every call; unit 1's are the reference.
Json::Value default_scenario(int unit = 1);

}  // namespace unit_sim
