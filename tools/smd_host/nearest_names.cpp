#include "nearest_names.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "utf8_code_point.h"

namespace {

std::u32string code_points(const std::string& text) {
    std::u32string out;
    for (std::size_t i = 0; i < text.size();) {
        const Utf8CodePoint c = code_point_at(text, i);
        out.push_back(c.value);
        i += c.length;
    }
    return out;
}

std::size_t edit_distance(const std::u32string& a, const std::u32string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t replaced = diagonal + (a[i - 1] == b[j - 1] ? 0 : 1);
            diagonal = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, replaced});
        }
    }
    return row[b.size()];
}

}  // namespace

std::vector<std::string> nearest_names(const std::string& name, const std::vector<std::string>& candidates,
                                       std::size_t limit) {
    const std::u32string wanted = code_points(name);
    const std::size_t allowed = std::max<std::size_t>(1, wanted.size() / 3);
    std::vector<std::pair<std::size_t, const std::string*>> close;
    for (const auto& candidate : candidates) {
        const std::size_t distance = edit_distance(wanted, code_points(candidate));
        if (distance <= allowed) close.emplace_back(distance, &candidate);
    }
    std::stable_sort(close.begin(), close.end(),
                     [](const auto& x, const auto& y) { return x.first < y.first; });
    std::vector<std::string> out;
    for (std::size_t i = 0; i < close.size() && i < limit; ++i) out.push_back(*close[i].second);
    return out;
}

std::string nearest_names_hint(const std::string& name, const std::vector<std::string>& candidates) {
    std::string hint;
    for (const auto& near : nearest_names(name, candidates))
        hint += (hint.empty() ? "; nearest: " : ", ") + near;
    return hint;
}
