#include <memory>
#include <vector>

#include "px46tr_k_provider.h"

#define PX46TR_K_EXPORT __attribute__((visibility("default")))

// The plug-in's entry: a fresh list holding its one provider, on every call.
extern "C" PX46TR_K_EXPORT std::vector<std::shared_ptr<Provider>> get_providers() {
    return {std::make_shared<PX46TR_KProvider>()};
}
