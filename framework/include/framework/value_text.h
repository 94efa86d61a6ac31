#pragma once

#include <cstdio>
#include <string>

namespace framework {

// A float as the host is told it: at most nine significant digits, in the shorter of fixed and
// exponent notation, exactly as printf "%.*g" with precision 9 writes the value widened to
// double (0.1f gives 0.100000001, 55 gives 55).
inline std::string value_text(float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*g", 9, static_cast<double>(value));
    return text;
}

}  // namespace framework
