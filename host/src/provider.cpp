#include "host/provider.h"

Provider::~Provider() = default;
SMDSPDeviceProvider::~SMDSPDeviceProvider() = default;
