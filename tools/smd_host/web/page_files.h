#pragma once

#include <optional>
#include <string>
#include <vector>

#include "web_reply.h"

// The files the runner's page is made of, read once when the page is set up and served from a
// fixed list only: no path is ever joined onto a directory, so nothing outside the list can be
// reached. The page's own files come with the package; the chart library is Debian's
// (libjs-chart.js), never a copy of ours.
class PageFiles {
public:
    // Where the page's files are: `web` beside the running program (the build tree), else the
    // installed share/px46tr-k/web under the program's prefix.
    static std::string default_directory();
    // Where Debian installs the chart library.
    static const char* const kDefaultChartFile;

    // Reads the files. A file that cannot be read is left out (its path is then not served) and
    // named by missing().
    PageFiles(const std::string& directory, const std::string& chart_file);

    // The file served at `path` ("/", "/assets/site.js"), or none.
    std::optional<WebReply> served(const std::string& path) const;
    // The unit page, its data id written in; none without its file.
    std::optional<WebReply> unit_page(unsigned int data_id) const;

    // The files that could not be read, with the reason.
    const std::vector<std::string>& missing() const { return missing_; }

private:
    struct File {
        const char* path;  // where it is served; nullptr for the unit page's template
        std::string content_type;
        std::optional<std::string> body;
    };
    std::vector<File> files_;
    std::vector<std::string> missing_;
};
