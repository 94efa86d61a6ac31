#include "user_input/id_list.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "user_input/parse_number.h"

std::vector<int> parse_id_list(std::string_view text, int first, int last) {
    std::vector<int> ids;
    const auto id = [&](std::string_view part) {
        const auto number = parse_decimal(part, last);
        if (!number || *number < first) {
            throw std::invalid_argument("'" + std::string(part) + "' is not an id from " +
                                        std::to_string(first) + " to " + std::to_string(last));
        }
        return static_cast<int>(*number);
    };
    for (std::size_t start = 0; start <= text.size();) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        const std::string_view part = text.substr(start, comma - start);
        const std::size_t dash = part.find('-');
        const int from = id(part.substr(0, dash));
        const int to = dash == std::string_view::npos ? from : id(part.substr(dash + 1));
        if (to < from) throw std::invalid_argument("'" + std::string(part) + "' runs backwards");
        for (int n = from; n <= to; ++n) {
            if (std::find(ids.begin(), ids.end(), n) != ids.end()) {
                throw std::invalid_argument("id " + std::to_string(n) + " is given twice");
            }
            ids.push_back(n);
        }
        start = comma + 1;
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}

std::string id_list_text(const std::vector<int>& ids) {
    std::string text;
    for (std::size_t i = 0; i < ids.size();) {
        std::size_t end = i;
        while (end + 1 < ids.size() && ids[end + 1] == ids[end] + 1) ++end;
        if (!text.empty()) text += ",";
        text += std::to_string(ids[i]);
        if (end >= i + 2) {
            text += "-" + std::to_string(ids[end]);
        } else if (end == i + 1) {
            text += "," + std::to_string(ids[end]);
        }
        i = end + 1;
    }
    return text;
}
