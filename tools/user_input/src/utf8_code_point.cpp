#include "user_input/utf8_code_point.h"

#include <algorithm>

Utf8CodePoint code_point_at(const std::string& text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t length = lead >= 0xf0 ? 4 : lead >= 0xe0 ? 3 : lead >= 0xc0 ? 2 : 1;
    char32_t value = length == 1 ? lead : lead & (0x7f >> length);
    const std::size_t end = std::min(text.size(), at + length);
    for (std::size_t i = at + 1; i < end; ++i) {
        value = (value << 6) | (static_cast<unsigned char>(text[i]) & 0x3f);
    }
    return {value, end - at};
}
