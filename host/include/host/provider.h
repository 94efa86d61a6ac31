#pragma once

#include <memory>
#include <vector>

#include "host/host_api.h"

class SMDSPDevice;

// What a plug-in hands the host: a list of providers, each building one device class.
class SMD_HOST_API Provider {
public:
    virtual ~Provider();
};

class SMD_HOST_API SMDSPDeviceProvider : public Provider {
public:
    ~SMDSPDeviceProvider() override;
    // Builds a new device; the caller owns it and destroys it through its virtual destructor.
    virtual SMDSPDevice* create() const = 0;
};

// The plug-in's exported entry, looked up by this unmangled name.
using GetProvidersFn = std::vector<std::shared_ptr<Provider>> (*)();
inline constexpr const char* kGetProvidersSymbol = "get_providers";
