#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/host_api.h"
#include "host/provider.h"
#include "host/sp_modbus.h"

// A device-driver plug-in loaded into the process: its library handle and the providers its
// get_providers gave. Devices it creates must be destroyed, and exceptions that came out of its
// code handled, before the library is: their code lives in it.
class SMD_HOST_API PluginLibrary {
public:
    // Loads the library at `path` and calls its get_providers; throws std::runtime_error with
    // the loader's or get_providers's message when either fails.
    explicit PluginLibrary(const std::string& path);
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    const std::vector<std::shared_ptr<Provider>>& providers() const { return providers_; }

    // A new device from the first provider that builds Modbus devices; throws when there is none.
    std::unique_ptr<SPModbus> create_device() const;

private:
    void* handle_ = nullptr;
    std::vector<std::shared_ptr<Provider>> providers_;
};
