#include "web_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <civetweb.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "request_routing.h"

namespace {

// The library's global state, made once for the process and kept to its end.
void init_library_once() {
    static std::once_flag once;
    std::call_once(once, [] { mg_init_library(0); });
}

void send_reply(mg_connection* connection, const WebReply& reply, bool with_body) {
    mg_response_header_start(connection, reply.status);
    mg_response_header_add(connection, "Content-Type", reply.content_type.c_str(), -1);
    mg_response_header_add(connection, "Content-Length", std::to_string(reply.body.size()).c_str(), -1);
    mg_response_header_add(connection, "Cache-Control", "no-store", -1);
    mg_response_header_add(connection, "X-Content-Type-Options", "nosniff", -1);
    if (reply.status == 405) mg_response_header_add(connection, "Allow", "GET, HEAD", -1);
    mg_response_header_send(connection);
    if (with_body && !reply.body.empty()) mg_write(connection, reply.body.data(), reply.body.size());
}

// Each of the server's threads, as it starts: it yields the processor to the line threads, so
// that clients that keep the server busy slow each other down, not the rounds. The niceness is
// the thread's own (Linux gives each thread its own), not the process's.
void* lower_thread_priority(const mg_context*, int) {
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), WebServer::kThreadNiceness);
    return nullptr;
}

// Every request, whatever its path: the library serves nothing of its own.
int answer(mg_connection* connection) {
    const mg_request_info* request = mg_get_request_info(connection);
    const auto* handlers = static_cast<const std::vector<WebHandler>*>(request->user_data);
    const std::string method = request->request_method != nullptr ? request->request_method : "";
    // The path as sent, decoded but with its dot segments kept (the library's local_uri has them
    // resolved), so that a ".." is seen and refused.
    const char* raw = request->local_uri_raw != nullptr ? request->local_uri_raw : "";
    const WebReply reply = route_request(method, raw, *handlers);
    send_reply(connection, reply, !reply_without_body(method));
    return reply.status;
}

// Why the address cannot be listened on, in the system's words ("Address already in use"), found
// by binding it once: the library says no more than that it failed. Empty when it can be bound.
std::string bind_error(const ListenAddress& address) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return std::strerror(errno);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);  // as the server binds it
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(static_cast<std::uint16_t>(address.port));
    ::inet_pton(AF_INET, address.host.c_str(), &where.sin_addr);
    std::string error;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&where), sizeof where) != 0)
        error = std::strerror(errno);
    ::close(fd);
    return error;
}

}  // namespace

WebServer::WebServer(const ListenAddress& address, std::vector<WebHandler> handlers)
    : host_(address.host), handlers_(std::move(handlers)) {
    init_library_once();
    const std::string ports = address.text();
    const std::string threads = std::to_string(kThreads);
    const std::string queue = std::to_string(kConnectionQueue);
    const std::string backlog = std::to_string(kListenBacklog);
    const std::string request_bytes = std::to_string(kMaxRequestBytes);
    const std::string timeout = std::to_string(kRequestSeconds * 1000);
    const char* options[] = {"listening_ports", ports.c_str(), "num_threads", threads.c_str(),
                             "connection_queue", queue.c_str(), "listen_backlog", backlog.c_str(),
                             "max_request_size", request_bytes.c_str(), "request_timeout_ms", timeout.c_str(),
                             "enable_keep_alive", "yes", "keep_alive_timeout_ms", timeout.c_str(),
                             // Pages of other sites open in a browser on this machine do not read it.
                             "access_control_allow_origin", "", nullptr};
    mg_callbacks callbacks{};
    callbacks.begin_request = answer;
    callbacks.init_thread = lower_thread_priority;
    mg_init_data init{};
    init.callbacks = &callbacks;
    init.user_data = &handlers_;
    init.configuration_options = options;
    char text[256] = "";
    unsigned code = 0;
    mg_error_data error{&code, text, sizeof text};
    context_ = mg_start2(&init, &error);
    if (context_ == nullptr) {
        const std::string reason = bind_error(address);
        throw WebServerError(!reason.empty()   ? "cannot listen: " + reason
                             : text[0] != '\0' ? text
                                               : "the server did not start");
    }
    mg_server_port bound[1];
    if (mg_get_server_ports(context_, 1, bound) == 1) port_ = bound[0].port;
}

WebServer::~WebServer() {
    if (context_ != nullptr) mg_stop(context_);
}

std::string WebServer::url() const { return "http://" + host_ + ":" + std::to_string(port_) + "/"; }
