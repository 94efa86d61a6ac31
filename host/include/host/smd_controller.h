#pragma once

#include "host/host_api.h"

// The host's controller that owns a set of devices. The plug-in only passes it on to Init.
class SMD_HOST_API SMDController {
public:
    virtual ~SMDController();
};
