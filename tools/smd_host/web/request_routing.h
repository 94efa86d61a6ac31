#pragma once

#include <string>
#include <vector>

#include "web_reply.h"

// The reply to one request of the runner's endpoint, before any handler sees it: only GET and
// HEAD are served (405 otherwise), and a path with a ".." segment is 404 whatever follows, as is
// a path no handler takes. `path` is the request's decoded path, as the client sent it (not
// cleaned of its dot segments); a handler that throws gets 500. Safe on any thread.
WebReply route_request(const std::string& method, const std::string& path,
                       const std::vector<WebHandler>& handlers);

// Whether the reply to `method` leaves its body out (HEAD).
bool reply_without_body(const std::string& method);

// A plain-text reply: `status`, "text/plain; charset=utf-8" and `text` followed by a newline.
WebReply text_reply(int status, const std::string& text);
