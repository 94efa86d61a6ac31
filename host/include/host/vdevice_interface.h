#pragma once

#include <stdexcept>
#include <string>

#include "host/host_api.h"

// Root of the host's device tree: what the host asks of every device object. The order of the
// virtual operations is the host's binary interface; plug-ins are compiled against it.
class SMD_HOST_API VDeviceInterface {
public:
    virtual std::string Get_Value(unsigned int /*id*/, const std::string& /*name*/) const {
        throw std::out_of_range("数据未就绪");
    }
    virtual bool LoadFromCache(const std::string& bytes) {
        return LoadFromCache(reinterpret_cast<const unsigned char*>(bytes.data()),
                             static_cast<int>(bytes.size()));
    }
    virtual bool LoadFromCache(const unsigned char* bytes, int length);
    virtual unsigned int DataId() const { return data_id_; }
    virtual std::string DeviceType() const { return device_type_; }
    virtual int DeviceIoControl(int code, const void* in, int in_len, void* out, int out_size, int& out_len);
    virtual void RoundDone();
    virtual bool UseControllerDb() { return use_controller_db_; }
    virtual ~VDeviceInterface();

protected:
    unsigned int data_id_ = 0;
    std::string device_type_;
    bool use_controller_db_ = false;
};
