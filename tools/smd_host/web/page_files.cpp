#include "page_files.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

constexpr const char kHtml[] = "text/html; charset=utf-8";
constexpr const char kScript[] = "text/javascript; charset=utf-8";
constexpr const char kStyle[] = "text/css; charset=utf-8";

// Where the unit page's template takes the unit's data id.
constexpr const char kDataIdMark[] = "@DATA_ID@";

// The list: where each file is served, its name in the page's directory (or the chart library),
// and its type.
struct Listed {
    const char* path;  // nullptr: not served as it is
    const char* name;  // nullptr: the chart library
    const char* content_type;
};
constexpr Listed kListed[] = {
    {"/", "index.html", kHtml},
    {nullptr, "unit.html", kHtml},
    {"/assets/page.css", "page.css", kStyle},
    {"/assets/site.js", "site.js", kScript},
    {"/assets/unit.js", "unit.js", kScript},
    {"/assets/chart.min.js", nullptr, kScript},
};

std::optional<std::string> read_file(const std::string& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) {
        error = path + ": cannot be read";
        return std::nullopt;
    }
    return text.str();
}

std::string program_directory() {
    char exe[4096];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return ".";
    const std::string path(exe, static_cast<std::size_t>(n));
    return path.substr(0, path.rfind('/'));
}

}  // namespace

const char* const PageFiles::kDefaultChartFile = PX46_CHART_JS_FILE;

std::string PageFiles::default_directory() {
    const std::string bin = program_directory();
    if (access((bin + "/web/index.html").c_str(), F_OK) == 0) return bin + "/web";
    return bin + "/" PX46_WEB_DIR_FROM_BIN;
}

PageFiles::PageFiles(const std::string& directory, const std::string& chart_file) {
    for (const Listed& listed : kListed) {
        std::string error;
        File file{listed.path, listed.content_type,
                  read_file(listed.name != nullptr ? directory + "/" + listed.name : chart_file, error)};
        if (!file.body) missing_.push_back(error);
        files_.push_back(std::move(file));
    }
}

std::optional<WebReply> PageFiles::served(const std::string& path) const {
    for (const File& file : files_) {
        if (file.path != nullptr && path == file.path && file.body)
            return WebReply{200, file.content_type, *file.body};
    }
    return std::nullopt;
}

std::optional<WebReply> PageFiles::unit_page(unsigned int data_id) const {
    for (const File& file : files_) {
        if (file.path != nullptr || !file.body) continue;
        std::string body = *file.body;
        const std::string id = std::to_string(data_id);
        for (std::size_t at = body.find(kDataIdMark); at != std::string::npos;
             at = body.find(kDataIdMark, at + id.size())) {
            body.replace(at, std::strlen(kDataIdMark), id);
        }
        return WebReply{200, file.content_type, std::move(body)};
    }
    return std::nullopt;
}
