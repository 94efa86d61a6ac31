#include "user_input/json_file.h"

#include <algorithm>
#include <fstream>
#include <memory>

#include <json/reader.h>

namespace {

// The file's text, refused when it holds more than kMaxJsonFileBytes.
std::string bounded_text(const std::string& path, const std::string& what) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw JsonFileError{"cannot read " + what + " " + path};
    std::string text(kMaxJsonFileBytes + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (in.bad()) throw JsonFileError{"cannot read " + what + " " + path};
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (text.size() > kMaxJsonFileBytes) {
        throw JsonFileError{what + " " + path + " is larger than " +
                            std::to_string(kMaxJsonFileBytes / (1024 * 1024)) + " MiB: not read"};
    }
    return text;
}

// The reader's first error, "* Line 3, Column 7\n  Missing ',' ...\n", as "line 3, column 7:
// Missing ',' ...".
std::string first_error(const std::string& errors) {
    std::string text = errors.substr(0, errors.find("\n*", 1));
    if (text.rfind("* Line", 0) == 0) text = "l" + text.substr(3);
    const auto column = text.find(", Column");
    if (column != std::string::npos) text.replace(column, 8, ", column");
    const auto gap = text.find("\n  ");
    if (gap != std::string::npos) text.replace(gap, 3, ": ");
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

}  // namespace

Json::Value read_json_object_file(const std::string& path, const std::string& what) {
    const std::string text = bounded_text(path, what);
    Json::Value settings;
    Json::CharReaderBuilder::strictMode(&settings);
    settings["allowTrailingCommas"] = false;
    settings["allowSpecialFloats"] = false;
    Json::CharReaderBuilder builder;
    builder.settings_ = settings;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors;
    if (!reader->parse(text.data(), text.data() + text.size(), &root, &errors)) {
        throw JsonFileError{what + " " + path + " is not one JSON object: " + first_error(errors)};
    }
    if (!root.isObject()) {
        // Where the value that is not an object starts.
        const std::size_t start = text.find_first_not_of(" \t\r\n");
        const std::size_t line =
            1 + static_cast<std::size_t>(std::count(text.begin(), text.begin() + start, '\n'));
        const std::size_t line_start = text.rfind('\n', start);
        const std::size_t column = line_start == std::string::npos ? start + 1 : start - line_start;
        throw JsonFileError{what + " " + path + " is not one JSON object: line " + std::to_string(line) +
                            ", column " + std::to_string(column) + ": " +
                            (root.isArray() ? "an array" : "a single value") + ", not an object"};
    }
    return root;
}
