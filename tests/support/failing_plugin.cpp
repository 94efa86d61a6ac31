// A plug-in whose get_providers fails with an exception type of its own: the type's code lives
// in this library only, so the exception must be handled before the library is unloaded.
#include <memory>
#include <stdexcept>
#include <vector>

#include "host/provider.h"

namespace {

class NoUnitError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace

// The host's entry signature: a C++ type returned under C linkage, which clang warns about.
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wreturn-type-c-linkage"
#endif
extern "C" __attribute__((visibility("default"))) std::vector<std::shared_ptr<Provider>> get_providers() {
    throw NoUnitError("no unit of this kind");
}
#if defined(__clang__)
#pragma clang diagnostic pop
#endif
