#pragma once

#include <cstddef>
#include <functional>

#include "host_runtime/bus_link.h"
#include "host_runtime/simulated_unit.h"

// A link to a simulated unit whose replies a test can tamper with: `script` sees each request
// (numbered from 0) and the unit's result, and may change or fail it.
class ScriptedLink : public BusLink {
public:
    explicit ScriptedLink(SimulatedUnit& unit) : unit_(unit) {}

    LinkResult transact(const ModbusRequest& request) override {
        LinkResult result = unit_.transact(request);
        if (script) script(requests_++, request, result);
        return result;
    }

    std::function<void(std::size_t, const ModbusRequest&, LinkResult&)> script;

private:
    SimulatedUnit& unit_;
    std::size_t requests_ = 0;
};
