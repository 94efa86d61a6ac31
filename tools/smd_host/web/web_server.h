#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "listen_address.h"
#include "web_reply.h"

struct mg_context;

// Thrown when the endpoint cannot be served: the port is taken, the address is not this machine's.
struct WebServerError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The runner's read-only HTTP endpoint, on the civetweb library: each request is answered by
// route_request over `handlers`, on the server's own threads. Serves from the moment it is made
// until it is destroyed; never a file, never a write.
//
// Bounded whatever its clients do: a fixed number of threads, one per connection served at once,
// and a bounded queue of accepted connections beyond them; a request line and headers of at most
// kMaxRequestBytes (larger is refused and the connection closed); a request that has not arrived
// whole within kRequestSeconds, or a kept-alive connection idle as long, is closed, so a client
// that sends a byte a second holds a thread for that long at most. Its threads run at a lower
// priority than the rest of the runner, so that busy clients do not take the processor from the
// line threads.
class WebServer {
public:
    static constexpr int kThreads = 2500;  // connections served at once: 2,000 idle ones leave room
    static constexpr int kConnectionQueue = 64;
    static constexpr int kListenBacklog = 512;
    static constexpr int kMaxRequestBytes = 16384;
    static constexpr int kRequestSeconds = 5;
    // The server's threads run at this niceness, below the line threads (0).
    static constexpr int kThreadNiceness = 10;

    // Throws WebServerError when the address cannot be served.
    WebServer(const ListenAddress& address, std::vector<WebHandler> handlers);
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    // The port it listens on (the one the system chose, when asked for port 0).
    int port() const { return port_; }
    // "http://127.0.0.1:8080/".
    std::string url() const;

private:
    std::string host_;
    int port_ = 0;
    std::vector<WebHandler> handlers_;  // fixed before the server starts
    mg_context* context_ = nullptr;
};
