#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace framework {

// How a mobile-profile alarm rule compares a snapshot member with its threshold, by the word
// that ends the rule ("<alarm id>,<word>"). A rule with any other word is never evaluated.
enum class Comparison { upper, lower, equal, notequal };

inline constexpr std::array<std::pair<std::string_view, Comparison>, 4> kComparisonWords{{
    {"upper", Comparison::upper},
    {"lower", Comparison::lower},
    {"equal", Comparison::equal},
    {"notequal", Comparison::notequal},
}};

// The comparison a rule's word names, if any; words compare byte for byte.
inline std::optional<Comparison> comparison_named(std::string_view word) {
    for (const auto& [name, comparison] : kComparisonWords) {
        if (name == word) return comparison;
    }
    return std::nullopt;
}

// The words, in table order, joined by ", ".
inline std::string comparison_word_list() {
    std::string list;
    for (const auto& entry : kComparisonWords) {
        if (!list.empty()) list += ", ";
        list += entry.first;
    }
    return list;
}

}  // namespace framework
