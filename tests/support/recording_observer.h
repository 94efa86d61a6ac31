#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "host_runtime/host_call.h"

// Records every host call a device makes, in order. Calls may come from several threads; read
// the record once they have ended.
class RecordingObserver : public HostCallObserver {
public:
    void on_host_call(const HostCall& call) override {
        const std::lock_guard<std::mutex> lock(mutex_);
        calls.push_back(call);
    }

    // The calls of one operation, in order.
    std::vector<HostCall> named(const std::string& name) const {
        std::vector<HostCall> out;
        for (const auto& call : calls) {
            if (call.name == name) out.push_back(call);
        }
        return out;
    }
    // The operation names, in call order, leaving out the Modbus requests.
    std::vector<std::string> names_without_requests() const {
        std::vector<std::string> out;
        for (const auto& call : calls) {
            if (call.name.rfind("modbus_", 0) != 0) out.push_back(call.name);
        }
        return out;
    }
    void clear() { calls.clear(); }

    std::vector<HostCall> calls;

private:
    std::mutex mutex_;
};
