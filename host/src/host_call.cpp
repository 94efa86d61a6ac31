#include "host/host_call.h"

#include "host/smd_controller.h"

std::string to_hex(const unsigned char* bytes, std::size_t length) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(length * 2);
    for (std::size_t i = 0; i < length; ++i) {
        text.push_back(digits[bytes[i] >> 4]);
        text.push_back(digits[bytes[i] & 0x0f]);
    }
    return text;
}

HostObserver::~HostObserver() = default;

SMDController::~SMDController() = default;
