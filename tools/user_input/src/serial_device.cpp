#include "user_input/serial_device.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace {

bool digits(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

// A letter, alone or between two digits ("E", "8N1"): meant as the line's framing. One the
// endpoint does not know, or one where the baud rate goes, is refused there, naming it, rather than
// taken as part of the device's name.
bool framing_like(const std::string& part) {
    const auto letter = [](char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; };
    const auto digit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
    return (part.size() == 1 && letter(part[0])) ||
           (part.size() == 3 && digit(part[0]) && letter(part[1]) && digit(part[2]));
}

// Whether `part` can be field number `field` (0 BAUD, 1 PARITY, 2 UNIT); each may be empty.
bool fits_field(const std::string& part, std::size_t field) {
    if (part.empty()) return true;
    switch (field) {
        case 0:
            return digits(part) || framing_like(part);
        case 1:
            return framing_like(part);
        default:
            return digits(part);
    }
}

}  // namespace

std::pair<std::string, std::string> split_serial_device(const std::string& text, std::size_t max_fields) {
    std::vector<std::string> parts;
    for (std::size_t start = 0;;) {
        const auto colon = text.find(':', start);
        parts.push_back(text.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    for (std::size_t fields = std::min(max_fields, parts.size() - 1); fields > 0; --fields) {
        const std::size_t first = parts.size() - fields;
        bool fits = true;
        for (std::size_t f = 0; f < fields && fits; ++f) fits = fits_field(parts[first + f], f);
        if (!fits) continue;
        std::string device = parts[0];
        for (std::size_t i = 1; i < first; ++i) device += ":" + parts[i];
        std::string tail = parts[first];
        for (std::size_t i = first + 1; i < parts.size(); ++i) tail += ":" + parts[i];
        return {device, tail};
    }
    return {text, ""};
}
