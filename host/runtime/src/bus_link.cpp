#include "host_runtime/bus_link.h"

BusLink::~BusLink() = default;
