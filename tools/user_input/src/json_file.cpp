#include "user_input/json_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include <json/reader.h>

namespace {

std::string cannot_read(const std::string& what, const std::string& path, int error) {
    return "cannot read " + what + " " + path + ": " + std::strerror(error);
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

// "line L, column C" of a byte offset into the text.
std::string position(const std::string& text, std::size_t offset) {
    const std::size_t line =
        1 + static_cast<std::size_t>(std::count(text.begin(), text.begin() + offset, '\n'));
    const std::size_t line_start = text.rfind('\n', offset);
    const std::size_t column = line_start == std::string::npos ? offset + 1 : offset - line_start;
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

// Where the first comment starts, in text the reader accepted; npos when there is none. The reader
// skips comments between an object's members even when told to refuse them; accepted JSON has no
// '/' outside its strings, so the first one there starts a comment.
std::size_t comment_start(const std::string& text) {
    bool in_string = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (in_string) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                in_string = false;
            }
        } else if (c == '"') {
            in_string = true;
        } else if (c == '/') {
            return i;
        }
    }
    return std::string::npos;
}

}  // namespace

std::string read_bounded_text_file(const std::string& path, const std::string& what) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw JsonFileError{cannot_read(what, path, errno)};
    std::string text(kMaxJsonFileBytes + 1, '\0');
    std::size_t length = 0;
    while (length < text.size()) {
        const ssize_t got = ::read(fd, text.data() + length, text.size() - length);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            const int error = errno;
            ::close(fd);
            throw JsonFileError{cannot_read(what, path, error)};
        }
        if (got == 0) break;
        length += static_cast<std::size_t>(got);
    }
    ::close(fd);
    text.resize(length);
    if (text.size() > kMaxJsonFileBytes) {
        throw JsonFileError{what + " " + path + " is larger than " +
                            std::to_string(kMaxJsonFileBytes / (1024 * 1024)) + " MiB: not read"};
    }
    return text;
}

Json::Value read_json_object_file(const std::string& path, const std::string& what) {
    const std::string text = read_bounded_text_file(path, what);
    Json::Value settings;
    Json::CharReaderBuilder::strictMode(&settings);
    settings["allowTrailingCommas"] = false;
    settings["allowSpecialFloats"] = false;
    Json::CharReaderBuilder builder;
    builder.settings_ = settings;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors;
    const std::string refused = what + " " + path + " is not one JSON object: ";
    if (!reader->parse(text.data(), text.data() + text.size(), &root, &errors)) {
        throw JsonFileError{refused + first_error(errors)};
    }
    if (!root.isObject()) {
        // Where the value that is not an object starts.
        throw JsonFileError{refused + position(text, text.find_first_not_of(" \t\r\n")) + ": " +
                            (root.isArray() ? "an array" : "a single value") + ", not an object"};
    }
    const std::size_t comment = comment_start(text);
    if (comment != std::string::npos) {
        throw JsonFileError{refused + position(text, comment) + ": a comment, which JSON does not allow"};
    }
    return root;
}
