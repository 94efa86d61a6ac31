#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

#include <json/value.h>

// Files the runner and the simulator are given (settings, registers, scenarios) are small JSON
// objects written by hand; anything larger than this is not one (a device such as /dev/zero
// would be read without end).
inline constexpr std::size_t kMaxJsonFileBytes = 4 * 1024 * 1024;

// Thrown when the file cannot be read, is too large or is not exactly one JSON object; the
// message names the file and, for a syntax error, the line and column; for a file that cannot be
// read, the system's reason ("No such file or directory", "Is a directory").
struct JsonFileError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The whole text of the file at `path`, read with the system's own calls so that what stops the
// read (a missing file, a folder) is named; refused when it holds more than kMaxJsonFileBytes.
// Throws JsonFileError ("cannot read site file s.yaml: No such file or directory").
std::string read_bounded_text_file(const std::string& path, const std::string& what);

// The JSON object in the file at `path` (`what` names the file in messages: "settings file").
// Parsed strictly: no comments, no trailing commas, no duplicate keys and nothing after the
// object.
Json::Value read_json_object_file(const std::string& path, const std::string& what);
