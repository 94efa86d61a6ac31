#pragma once

#include "host/provider.h"

// Builds the plug-in's one device class, the power-distribution monitoring unit's driver.
class PX46TR_KProvider : public SMDSPDeviceProvider {
public:
    ~PX46TR_KProvider() override;
    SMDSPDevice* create() const override;
};
