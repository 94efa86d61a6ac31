#include "host/bus_link.h"

BusLink::~BusLink() = default;
