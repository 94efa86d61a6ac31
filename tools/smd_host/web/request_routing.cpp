#include "request_routing.h"

#include <exception>

namespace {

bool has_parent_segment(const std::string& path) {
    for (std::size_t start = 0; start <= path.size();) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        if (path.compare(start, end - start, "..") == 0) return true;
        start = end + 1;
    }
    return false;
}

}  // namespace

WebReply text_reply(int status, const std::string& text) {
    return WebReply{status, "text/plain; charset=utf-8", text + "\n"};
}

bool reply_without_body(const std::string& method) { return method == "HEAD"; }

WebReply route_request(const std::string& method, const std::string& path,
                       const std::vector<WebHandler>& handlers) {
    if (method != "GET" && method != "HEAD") return text_reply(405, "read-only: GET and HEAD only");
    if (path.empty() || path[0] != '/' || has_parent_segment(path)) return text_reply(404, "not found");
    try {
        for (const WebHandler& handler : handlers) {
            if (auto reply = handler(path)) return std::move(*reply);
        }
    } catch (const std::exception& e) {
        return text_reply(500, std::string("internal error: ") + e.what());
    }
    return text_reply(404, "not found");
}
