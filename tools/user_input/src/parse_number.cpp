#include "user_input/parse_number.h"

#include <charconv>

namespace {

std::optional<long> parse_whole(std::string_view text, int base, long max) {
    long value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value, base);
    if (text.empty() || error != std::errc() || stop != end || value < 0 || value > max) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::optional<long> parse_decimal(std::string_view text, long max) { return parse_whole(text, 10, max); }

std::optional<long> parse_decimal_or_hex(std::string_view text, long max) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    return hex ? parse_whole(text.substr(2), 16, max) : parse_whole(text, 10, max);
}
