#include "user_input/nearest_names.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "user_input/utf8_code_point.h"

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

// The edit distance of `a` and `b`, or any value above `bound` once it is sure to exceed it.
std::size_t edit_distance(const std::u32string& a, const std::u32string& b, std::size_t bound) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        std::size_t smallest = row[0];
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t replaced = diagonal + (a[i - 1] == b[j - 1] ? 0 : 1);
            diagonal = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, replaced});
            smallest = std::min(smallest, row[j]);
        }
        // No later row is below the smallest value of this one.
        if (smallest > bound) return smallest;
    }
    return row[b.size()];
}

}  // namespace

NearestNames::NearestNames(std::vector<std::string> candidates) : names_(std::move(candidates)) {
    decoded_.reserve(names_.size());
    for (const auto& name : names_) decoded_.push_back(code_points(name));
}

std::vector<std::string> NearestNames::find(const std::string& name, std::size_t limit) const {
    const std::u32string wanted = code_points(name);
    const std::size_t allowed = std::max<std::size_t>(1, wanted.size() / 3);
    std::vector<std::pair<std::size_t, std::size_t>> close;  // distance, candidate
    for (std::size_t i = 0; i < decoded_.size(); ++i) {
        const std::size_t a = wanted.size();
        const std::size_t b = decoded_[i].size();
        // The distance is at least the difference in length.
        if ((a > b ? a - b : b - a) > allowed) continue;
        const std::size_t distance = edit_distance(wanted, decoded_[i], allowed);
        if (distance <= allowed) close.emplace_back(distance, i);
    }
    std::stable_sort(close.begin(), close.end(),
                     [](const auto& x, const auto& y) { return x.first < y.first; });
    std::vector<std::string> out;
    for (std::size_t i = 0; i < close.size() && i < limit; ++i) out.push_back(names_[close[i].second]);
    return out;
}

std::string NearestNames::hint(const std::string& name) const {
    std::string hint;
    for (const auto& near : find(name)) hint += (hint.empty() ? "; nearest: " : ", ") + near;
    return hint;
}

std::vector<std::string> nearest_names(const std::string& name, const std::vector<std::string>& candidates,
                                       std::size_t limit) {
    return NearestNames(candidates).find(name, limit);
}

std::string nearest_names_hint(const std::string& name, const std::vector<std::string>& candidates) {
    return NearestNames(candidates).hint(name);
}
