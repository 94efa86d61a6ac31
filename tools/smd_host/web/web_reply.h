#pragma once

#include <functional>
#include <optional>
#include <string>

// What the runner's HTTP endpoint answers a GET (or HEAD) of one path with. Replies are made from
// the site's status only: nothing that answers a path ever sends a request to a unit.
struct WebReply {
    int status = 200;
    std::string content_type;  // e.g. "text/plain; version=0.0.4; charset=utf-8"
    std::string body;          // left out of the reply to a HEAD
};

// One part of the endpoint: the reply for `path` (the request's path, without its query string,
// already checked to hold no ".." segment), or none when the path is not one it serves. The
// server asks its handlers in turn; a path none of them takes is 404. Called on the server's
// threads, several at once: a handler keeps no state that is not its own to guard.
using WebHandler = std::function<std::optional<WebReply>(const std::string& path)>;
