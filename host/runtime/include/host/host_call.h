#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <json/value.h>

#include "host/host_api.h"

// One host operation as the plug-in called it: the operation's name and its arguments in the
// host signature's order. Texts are JSON strings, numbers JSON numbers, booleans JSON booleans and
// byte buffers lowercase hex strings; DoBatchCheckThreshold carries the number of rule values.
struct SMD_HOST_API HostCall {
    std::string name;
    Json::Value args{Json::arrayValue};
};

// Lowercase hex of a byte buffer, two digits a byte.
SMD_HOST_API std::string to_hex(const unsigned char* bytes, std::size_t length);
// The bytes of a hex text as to_hex writes it; a trailing odd digit is ignored.
SMD_HOST_API std::vector<unsigned char> from_hex(const std::string& hex);

// Receives every host operation a device calls. The hosting program installs one per device:
// tests record the calls, the runner traces them.
class SMD_HOST_API HostObserver {
public:
    virtual ~HostObserver();
    virtual void on_host_call(const HostCall& call) = 0;
};
