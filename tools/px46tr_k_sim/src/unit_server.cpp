#include "unit_sim/unit_server.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <modbus/modbus.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace unit_sim {

namespace {

const char* const kLoopback = "127.0.0.1";
// Modbus TCP: the MBAP header is transaction (2), protocol (2), length (2) and unit (1); the length
// counts the unit byte and the PDU, at most 253 bytes.
constexpr int kMbapLength = 7;
constexpr int kMaxMbapCount = 1 + 253;
constexpr int kCrcLength = 2;  // Modbus RTU
// The rest of a frame whose start has arrived is given this long (libmodbus's byte time-out).
constexpr int kFrameRestMs = 500;
// Unit ids that reach a Modbus TCP server addressed directly, besides its own (the Modbus TCP
// implementation guide: 0xFF for a server that is not a gateway, 0 accepted likewise).
constexpr int kTcpDirectUnit = 0xFF;
constexpr int kTcpUnitZero = 0;

int open_listener(const std::string& host, int port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    const std::string node = host.empty() ? kLoopback : host;
    const int gai = getaddrinfo(node.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (gai != 0) throw std::runtime_error("cannot resolve " + node + ": " + gai_strerror(gai));
    std::string error = "cannot listen on " + node + ":" + std::to_string(port);
    int fd = -1;
    for (addrinfo* a = found; a != nullptr && fd < 0; a = a->ai_next) {
        fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) continue;
        const int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (bind(fd, a->ai_addr, a->ai_addrlen) != 0 || listen(fd, 8) != 0) {
            error += std::string(": ") + std::strerror(errno);
            close(fd);
            fd = -1;
        }
    }
    freeaddrinfo(found);
    if (fd < 0) throw std::runtime_error(error);
    return fd;
}

int bound_port(int fd) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    if (address.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
    return ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
}

bool is_tcp(const ServerOptions& options) {
    return options.endpoint.transport == ModbusEndpoint::Transport::tcp;
}

// The Modbus RTU CRC-16 (polynomial 0xA001 reflected, initial 0xFFFF), low byte first on the line.
std::uint16_t modbus_crc(const std::vector<std::uint8_t>& bytes) {
    std::uint16_t crc = 0xFFFF;
    for (const std::uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return crc;
}

}  // namespace

UnitServer::UnitServer(const RegisterImage& image, ServerOptions options)
    : options_(std::move(options)), drift_(image) {
    mapping_ = modbus_mapping_new_start_address(0, 0, 0, 0, 0, kRegisterCount, 0, 0);
    if (mapping_ == nullptr) throw std::runtime_error("cannot allocate the register image");
    std::copy(image.registers().begin(), image.registers().end(), mapping_->tab_registers);
}

UnitServer::~UnitServer() {
    stop();
    modbus_mapping_free(mapping_);
}

int UnitServer::start() {
    if (pipe2(wake_, O_CLOEXEC) != 0) throw std::runtime_error("cannot make a pipe");
    const ModbusEndpoint& endpoint = options_.endpoint;
    if (is_tcp(options_)) {
        listen_fd_ = open_listener(endpoint.host, endpoint.port);
        port_ = bound_port(listen_fd_);
        main_thread_ = std::thread([this] { accept_loop(); });
        return port_;
    }
    rtu_ctx_ = modbus_new_rtu(endpoint.device.c_str(), endpoint.baud > 0 ? endpoint.baud : 9600,
                              endpoint.parity, endpoint.data_bits, endpoint.stop_bits);
    if (rtu_ctx_ == nullptr) throw std::runtime_error("cannot use " + endpoint.device);
    modbus_set_slave(rtu_ctx_, endpoint.unit);
    modbus_set_error_recovery(rtu_ctx_, MODBUS_ERROR_RECOVERY_NONE);
    if (modbus_connect(rtu_ctx_) == -1) {
        throw std::runtime_error("cannot open " + endpoint.device + ": " + modbus_strerror(errno));
    }
    if (modbus_get_socket(rtu_ctx_) >= FD_SETSIZE) {
        throw std::runtime_error("cannot use " + endpoint.device + ": descriptor at or above FD_SETSIZE");
    }
    main_thread_ = std::thread([this] { serve_rtu(); });
    return 0;
}

void UnitServer::stop() {
    {
        std::lock_guard<std::mutex> lock(stop_mutex_);
        stopping_ = true;
    }
    stop_cv_.notify_all();
    if (wake_[1] >= 0) {
        const char byte = 1;
        (void)!write(wake_[1], &byte, 1);
    }
    if (main_thread_.joinable()) main_thread_.join();
    {
        std::lock_guard<std::mutex> lock(connections_mutex_);
        for (Connection& c : connections_) c.thread.join();
        connections_.clear();
    }
    if (listen_fd_ >= 0) close(listen_fd_);
    listen_fd_ = -1;
    if (rtu_ctx_ != nullptr) {
        modbus_close(rtu_ctx_);
        modbus_free(rtu_ctx_);
        rtu_ctx_ = nullptr;
    }
    for (int& fd : wake_) {
        if (fd >= 0) close(fd);
        fd = -1;
    }
}

std::uint16_t UnitServer::get(int reg) const {
    std::lock_guard<std::mutex> lock(image_mutex_);
    return mapping_->tab_registers[std::clamp(reg, 0, kRegisterCount - 1)];
}

void UnitServer::accept_loop() {
    for (;;) {
        pollfd waits[2] = {{listen_fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (poll(waits, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (waits[1].revents != 0) return;
        const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        if (fd >= FD_SETSIZE) {  // libmodbus would select() on it past the end of its set
            close(fd);
            continue;
        }
        std::lock_guard<std::mutex> lock(connections_mutex_);
        for (auto c = connections_.begin(); c != connections_.end();) {
            if (c->done) {
                c->thread.join();
                c = connections_.erase(c);
            } else {
                ++c;
            }
        }
        Connection& connection = connections_.emplace_back();
        connection.thread = std::thread([this, fd, &connection] { serve_connection(fd, &connection.done); });
    }
}

void UnitServer::serve_connection(int fd, std::atomic<bool>* done) {
    modbus_t* ctx = modbus_new_tcp(kLoopback, ModbusEndpoint::kDefaultTcpPort);
    if (ctx != nullptr) {
        modbus_set_socket(ctx, fd);
        serve_tcp(ctx);
        modbus_close(ctx);
        modbus_free(ctx);
    } else {
        close(fd);
    }
    *done = true;
}

void UnitServer::serve_rtu() {
    std::uint8_t request[MODBUS_MAX_ADU_LENGTH];
    while (wait_readable(modbus_get_socket(rtu_ctx_))) {
        const int length = modbus_receive(rtu_ctx_, request);
        if (length == 0) continue;  // for another unit
        if (length < 0) {
            if (errno != EMBBADCRC && errno != EMBBADDATA && errno != ETIMEDOUT) return;
            modbus_flush(rtu_ctx_);  // a garbled frame: wait for the next one
            continue;
        }
        handle(rtu_ctx_, request, length);
    }
}

// Frames by the MBAP length rather than by libmodbus, which knows the length only of the requests
// it serves: a request of any other function is taken whole and answered, never left half read.
void UnitServer::serve_tcp(modbus_t* ctx) {
    const int fd = modbus_get_socket(ctx);
    const auto ready =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(options_.faults.ready_after_ms);
    std::uint8_t frame[kMbapLength - 1 + kMaxMbapCount];
    while (wait_readable(fd)) {
        if (!receive_rest(fd, frame, kMbapLength)) return;
        const int count = (frame[4] << 8) | frame[5];
        if (count < 1 || count > kMaxMbapCount) return;  // no Modbus TCP stream: nothing to resynchronise on
        if (!receive_rest(fd, frame + kMbapLength, count - 1)) return;
        const bool modbus = frame[2] == 0 && frame[3] == 0;
        if (!modbus || count < 2) continue;  // another protocol's frame, or no function: discarded
        if (std::chrono::steady_clock::now() < ready) continue;  // a gateway not ready yet loses it
        if (handle(ctx, frame, kMbapLength - 1 + count) == Handling::close) return;
    }
}

bool UnitServer::receive_rest(int fd, std::uint8_t* into, int count) const {
    while (count > 0) {
        pollfd waits[2] = {{fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        const int ready = poll(waits, 2, kFrameRestMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0 || waits[1].revents != 0) return false;
        const ssize_t got = recv(fd, into, static_cast<std::size_t>(count), 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        into += got;
        count -= static_cast<int>(got);
    }
    return true;
}

bool UnitServer::answers(int unit) const {
    if (unit == options_.endpoint.unit) return true;
    return is_tcp(options_) && (unit == kTcpDirectUnit || unit == kTcpUnitZero);
}

bool UnitServer::wait_readable(int fd) const {
    for (;;) {
        pollfd waits[2] = {{fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        const int ready = poll(waits, 2, -1);
        if (ready < 0 && errno == EINTR) continue;
        return ready > 0 && waits[1].revents == 0;
    }
}

UnitServer::Handling UnitServer::handle(modbus_t* ctx, const std::uint8_t* request, int length) {
    const int header = modbus_get_header_length(ctx);
    if (length <= header + (is_tcp(options_) ? 0 : kCrcLength) || !answers(request[header - 1]))
        return Handling::keep;

    const std::uint64_t n = ++taken_;
    const Faults& f = options_.faults;
    const auto hits = [n](int every) { return every > 0 && n % static_cast<std::uint64_t>(every) == 0; };
    if (hits(f.close_every)) return is_tcp(options_) ? Handling::close : Handling::keep;
    if (hits(f.drop_every)) return Handling::keep;
    if (hits(f.exception_every)) {
        modbus_reply_exception(ctx, request, static_cast<unsigned int>(f.exception_code));
        return Handling::keep;
    }
    if (f.delay_ms > 0 && hits(f.delay_every) && !wait_unless_stopped(f.delay_ms)) return Handling::close;

    const std::uint8_t* pdu = request + header;
    const int pdu_length = length - header - (is_tcp(options_) ? 0 : kCrcLength);
    const int function = pdu[0];
    if (function != MODBUS_FC_READ_HOLDING_REGISTERS && function != MODBUS_FC_WRITE_SINGLE_REGISTER &&
        function != MODBUS_FC_WRITE_MULTIPLE_REGISTERS) {
        modbus_reply_exception(ctx, request, MODBUS_EXCEPTION_ILLEGAL_FUNCTION);
        return Handling::keep;
    }
    // Reads and single writes carry 4 bytes after the function; multiple writes 5 and their values.
    const int expected = function == MODBUS_FC_WRITE_MULTIPLE_REGISTERS && pdu_length >= 6 ? 6 + pdu[5] : 5;
    if (pdu_length != expected) {
        modbus_reply_exception(ctx, request, MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE);
        return Handling::keep;
    }
    const int start = (pdu[1] << 8) | pdu[2];
    const int count = function == MODBUS_FC_WRITE_SINGLE_REGISTER ? 1 : (pdu[3] << 8) | pdu[4];
    const int max =
        function == MODBUS_FC_READ_HOLDING_REGISTERS ? MODBUS_MAX_READ_REGISTERS : MODBUS_MAX_WRITE_REGISTERS;
    // A count out of range, or a byte count that does not match it, is answered here: libmodbus
    // would answer it only after its response time-out (0.5 s), which a master with a shorter
    // time-out sees as no answer.
    if (count < 1 || count > max || (function == MODBUS_FC_WRITE_MULTIPLE_REGISTERS && pdu[5] != 2 * count)) {
        modbus_reply_exception(ctx, request, MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE);
        return Handling::keep;
    }
    std::lock_guard<std::mutex> lock(image_mutex_);
    if (!RegisterImage::in_map(start, count)) {
        modbus_reply_exception(ctx, request, MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS);
    } else if (f.wrong_write_count && function == MODBUS_FC_WRITE_MULTIPLE_REGISTERS) {
        write_confirming(ctx, request, start, count, count + 1);
    } else {
        if (options_.drift && function == MODBUS_FC_READ_HOLDING_REGISTERS && start == 0) {
            drift_.step(mapping_->tab_registers);
        }
        modbus_reply(ctx, request, length, mapping_);
    }
    return Handling::keep;
}

void UnitServer::write_confirming(modbus_t* ctx, const std::uint8_t* request, int start, int count,
                                  int confirmed) {
    const int header = modbus_get_header_length(ctx);
    const std::uint8_t* values = request + header + 6;
    for (int i = 0; i < count; ++i) {
        mapping_->tab_registers[start + i] =
            static_cast<std::uint16_t>((values[2 * i] << 8) | values[2 * i + 1]);
    }
    // The header (MBAP or address), the function and the first register, then the count.
    std::vector<std::uint8_t> reply(request, request + header + 3);
    reply.push_back(static_cast<std::uint8_t>(confirmed >> 8));
    reply.push_back(static_cast<std::uint8_t>(confirmed & 0xFF));
    if (is_tcp(options_)) {
        reply[4] = 0;
        reply[5] = 6;  // the MBAP length: the unit byte and five bytes of PDU
    } else {
        const std::uint16_t crc = modbus_crc(reply);
        reply.push_back(static_cast<std::uint8_t>(crc & 0xFF));
        reply.push_back(static_cast<std::uint8_t>(crc >> 8));
    }
    const int fd = modbus_get_socket(ctx);
    const ssize_t sent = is_tcp(options_) ? send(fd, reply.data(), reply.size(), MSG_NOSIGNAL)
                                          : write(fd, reply.data(), reply.size());
    (void)sent;  // a reply that cannot be sent is lost, as libmodbus's own are
}

bool UnitServer::wait_unless_stopped(int milliseconds) {
    std::unique_lock<std::mutex> lock(stop_mutex_);
    return !stop_cv_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return stopping_; });
}

}  // namespace unit_sim
