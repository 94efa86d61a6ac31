#include <memory>
#include <vector>

#include "px46tr_k_provider.h"

#define PX46TR_K_EXPORT __attribute__((visibility("default")))

// The plug-in's entry: a fresh list holding its one provider, on every call. The host looks it up
// by its plain name and takes the list by value, so a C++ type returned under C linkage is the
// contract here; clang warns about that pairing, for this entry only it is silenced.
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wreturn-type-c-linkage"
#endif
extern "C" PX46TR_K_EXPORT std::vector<std::shared_ptr<Provider>> get_providers() {
    return {std::make_shared<PX46TR_KProvider>()};
}
#if defined(__clang__)
#pragma clang diagnostic pop
#endif
