#include "host_runtime/wire_observer.h"

WireObserver::~WireObserver() = default;
