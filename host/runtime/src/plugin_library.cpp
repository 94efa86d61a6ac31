#include "host_runtime/plugin_library.h"

#include <dlfcn.h>

PluginLibrary::PluginLibrary(const std::string& path) {
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) throw std::runtime_error(std::string("cannot load plug-in: ") + dlerror());
    void* entry = dlsym(handle_, kGetProvidersSymbol);
    if (entry == nullptr) {
        const std::string message = std::string("plug-in has no ") + kGetProvidersSymbol;
        dlclose(handle_);
        throw std::runtime_error(message);
    }
    // An exception out of get_providers may live in the library's code: its message is taken
    // and the exception ended before the library is unloaded.
    std::string failure;
    try {
        providers_ = reinterpret_cast<GetProvidersFn>(entry)();
        return;
    } catch (const std::exception& e) {
        failure = e.what();
    } catch (...) {
        failure = "an exception of unknown type";
    }
    dlclose(handle_);
    throw std::runtime_error("plug-in's " + std::string(kGetProvidersSymbol) + " failed: " + failure);
}

PluginLibrary::~PluginLibrary() {
    providers_.clear();
    dlclose(handle_);
}

std::unique_ptr<SPModbus> PluginLibrary::create_device() const {
    for (const auto& provider : providers_) {
        const auto* sp_provider = dynamic_cast<const SMDSPDeviceProvider*>(provider.get());
        if (sp_provider == nullptr) continue;
        std::unique_ptr<SMDSPDevice> device(sp_provider->create());
        if (auto* modbus = dynamic_cast<SPModbus*>(device.get())) {
            device.release();
            return std::unique_ptr<SPModbus>(modbus);
        }
    }
    throw std::runtime_error("plug-in provides no Modbus device");
}
