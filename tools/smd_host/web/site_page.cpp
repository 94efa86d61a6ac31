#include "site_page.h"

#include <chrono>
#include <limits>
#include <utility>

#include "page_data.h"

namespace {

constexpr const char kJson[] = "application/json; charset=utf-8";

// The data id a path segment writes, in decimal without sign or leading zeros; none otherwise.
std::optional<unsigned int> data_id_of(const std::string& text) {
    if (text.empty() || text.size() > 10 || (text.size() > 1 && text[0] == '0')) return std::nullopt;
    unsigned long long value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > std::numeric_limits<unsigned int>::max()) return std::nullopt;
    return static_cast<unsigned int>(value);
}

// Whether `path` starts with `prefix`; the rest in `rest`.
bool starts_with(const std::string& path, const std::string& prefix, std::string& rest) {
    if (path.compare(0, prefix.size(), prefix) != 0) return false;
    rest = path.substr(prefix.size());
    return true;
}

}  // namespace

SitePage::SitePage(SiteStatus& status, std::size_t units, PageFiles files)
    : status_(status), trends_(units), files_(std::move(files)) {
    trends_.follow(status);
}

std::optional<WebReply> SitePage::reply(const std::string& path) const {
    if (auto file = files_.served(path)) return file;
    std::string rest;
    const auto unit_of = [this](unsigned int data_id) { return status_.unit_with_data_id(data_id); };
    if (starts_with(path, "/units/", rest)) {
        const auto data_id = data_id_of(rest);
        if (!data_id || !unit_of(*data_id)) return std::nullopt;
        return files_.unit_page(*data_id);
    }
    if (starts_with(path, "/api/units/", rest)) {
        const std::size_t slash = rest.find('/');
        if (slash == std::string::npos) return std::nullopt;
        const auto data_id = data_id_of(rest.substr(0, slash));
        const auto unit = data_id ? unit_of(*data_id) : std::nullopt;
        if (!unit) return std::nullopt;
        return unit_data(*unit, rest.substr(slash + 1));
    }
    return std::nullopt;
}

std::optional<WebReply> SitePage::unit_data(std::size_t unit, const std::string& what) const {
    const auto now = std::chrono::system_clock::now();
    if (what == "view") {
        const auto tree = status_.snapshot_tree(unit);
        return WebReply{200, kJson,
                        json_text(unit_view_data(status_.unit(unit), tree ? *tree : Json::Value(), now))};
    }
    if (what == "trend") {
        const TrendRing* ring = trends_.ring(unit);
        if (ring == nullptr) return std::nullopt;
        return WebReply{200, kJson, json_text(trend_data(*ring, now))};
    }
    return std::nullopt;
}
