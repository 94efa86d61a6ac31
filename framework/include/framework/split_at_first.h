#pragma once

#include <string>
#include <utility>

namespace framework {

// Splits a configured text at the first occurrence of `separator`: the part before and the part
// after it. Without the separator both parts are the whole text; further separators stay in the
// second part.
inline std::pair<std::string, std::string> split_at_first(const std::string& text, char separator) {
    const auto at = text.find(separator);
    if (at == std::string::npos) return {text, text};
    return {text.substr(0, at), text.substr(at + 1)};
}

}  // namespace framework
