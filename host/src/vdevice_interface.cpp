#include "host/vdevice_interface.h"

bool VDeviceInterface::LoadFromCache(const unsigned char* /*bytes*/, int /*length*/) { return false; }

int VDeviceInterface::DeviceIoControl(int /*code*/, const void* /*in*/, int /*in_len*/, void* /*out*/,
                                      int /*out_size*/, int& out_len) {
    out_len = 0;
    return -1;
}

void VDeviceInterface::RoundDone() {}

VDeviceInterface::~VDeviceInterface() = default;
