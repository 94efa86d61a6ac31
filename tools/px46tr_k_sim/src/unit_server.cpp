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
#include <optional>
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
// The unit ids a server takes (the Modbus serial line's address range, used on TCP as well).
constexpr int kFirstUnit = 1;
constexpr int kLastUnit = 247;
// An RTU frame of a length the server cannot tell, or garbled, is dropped with what follows it
// until the line has been quiet this long (more than 3.5 characters at 1200 baud and above).
constexpr int kRtuQuietMs = 40;
// The longest RTU request a function's layout can announce: address, function, the largest
// fixed part (function 17), a byte count of 255 and the CRC.
constexpr int kRtuFrameCapacity = 2 + 9 + 255 + kCrcLength;

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

// The bytes of a Modbus request after its function code up to its CRC, as the Modbus application
// protocol lays each function out: a fixed part, then as many bytes as the byte count at
// `count_at` within it says (-1: none). Unknown functions have no known length.
struct RequestLayout {
    int fixed;
    int count_at;
};

std::optional<RequestLayout> request_layout(int function) {
    switch (function) {
        case 0x01:
        case 0x02:
        case 0x03:
        case 0x04:
        case 0x05:
        case 0x06:
        case 0x08:  // diagnostics: sub-function and one data word
            return RequestLayout{4, -1};
        case 0x07:
        case 0x0B:
        case 0x0C:
        case 0x11:
            return RequestLayout{0, -1};
        case 0x0F:
        case 0x10:
            return RequestLayout{5, 4};
        case 0x14:
        case 0x15:
            return RequestLayout{1, 0};
        case 0x16:
            return RequestLayout{6, -1};
        case 0x17:
            return RequestLayout{9, 8};
        case 0x18:
            return RequestLayout{2, -1};
        case 0x2B:  // read device identification: MEI type, code, object id
            return RequestLayout{3, -1};
        default:
            return std::nullopt;
    }
}

}  // namespace

UnitServer::Unit::Unit(const UnitSetup& setup, std::uint32_t drift_seed)
    : faults(setup.faults), dead(setup.dead), drift(setup.image, drift_seed) {
    mapping = modbus_mapping_new_start_address(0, 0, 0, 0, 0, kRegisterCount, 0, 0);
    if (mapping == nullptr) throw std::runtime_error("cannot allocate the register image");
    std::copy(setup.image.registers().begin(), setup.image.registers().end(), mapping->tab_registers);
}

UnitServer::Unit::~Unit() { modbus_mapping_free(mapping); }

UnitServer::UnitServer(ServerOptions options) : options_(std::move(options)) {
    if (options_.units.empty()) throw std::invalid_argument("a server serves at least one unit id");
    for (const auto& [id, setup] : options_.units) {
        if (id < kFirstUnit || id > kLastUnit) {
            throw std::invalid_argument("unit id " + std::to_string(id) + " is not from 1 to 247");
        }
        units_.emplace(id, std::make_unique<Unit>(setup, static_cast<std::uint32_t>(id)));
    }
    options_.units.clear();  // the units hold their images now
}

namespace {

ServerOptions with_unit(const RegisterImage& image, ServerOptions options) {
    const int id = options.endpoint.unit;
    if (!options.units.emplace(id, UnitSetup{image, Faults{}, false}).second) {
        throw std::invalid_argument("unit id " + std::to_string(id) + " given twice");
    }
    return options;
}

}  // namespace

UnitServer::UnitServer(const RegisterImage& image, ServerOptions options)
    : UnitServer(with_unit(image, std::move(options))) {}

UnitServer::~UnitServer() { stop(); }

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

std::uint16_t UnitServer::get(int reg) const { return get(units_.begin()->first, reg); }

std::uint16_t UnitServer::get(int unit, int reg) const {
    const Unit& served = *units_.at(unit);
    std::lock_guard<std::mutex> lock(image_mutex_);
    return served.mapping->tab_registers[std::clamp(reg, 0, kRegisterCount - 1)];
}

std::uint64_t UnitServer::requests_taken(int unit) const {
    const auto found = units_.find(unit);
    return found == units_.end() ? 0 : found->second->taken.load();
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

// Frames by the request's own layout rather than by libmodbus, whose receiving takes one address
// only: every unit of the line hears every frame, and each answers its own.
void UnitServer::serve_rtu() {
    const int fd = modbus_get_socket(rtu_ctx_);
    std::uint8_t request[kRtuFrameCapacity];
    while (wait_readable(fd)) {
        const int length = receive_rtu_frame(fd, request);
        if (length < 0) return;
        if (length > 0) handle(rtu_ctx_, request, length);
    }
}

int UnitServer::receive_rtu_frame(int fd, std::uint8_t* frame) const {
    const auto drain = [&] {
        std::uint8_t discarded[64];
        while (!stopping_now()) {
            pollfd wait{fd, POLLIN, 0};
            const int ready = poll(&wait, 1, kRtuQuietMs);
            if (ready < 0 && errno == EINTR) continue;
            if (ready <= 0 || read(fd, discarded, sizeof discarded) <= 0) return;
        }
    };
    // Address and function, then the layout the function gives.
    if (!receive_rest(fd, frame, 2)) return stopping_now() ? -1 : 0;
    const auto layout = request_layout(frame[1]);
    if (!layout) {
        drain();
        return 0;
    }
    int length = 2 + layout->fixed;
    if (!receive_rest(fd, frame + 2, layout->fixed)) return stopping_now() ? -1 : 0;
    if (layout->count_at >= 0) {
        const int count = frame[2 + layout->count_at];
        if (!receive_rest(fd, frame + length, count)) return stopping_now() ? -1 : 0;
        length += count;
    }
    if (!receive_rest(fd, frame + length, kCrcLength)) return stopping_now() ? -1 : 0;
    const std::uint16_t crc = modbus_crc(std::vector<std::uint8_t>(frame, frame + length));
    if (frame[length] != (crc & 0xFF) || frame[length + 1] != (crc >> 8)) {
        drain();  // garbled: wait for the next frame
        return 0;
    }
    return length + kCrcLength;
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
        const ssize_t got = read(fd, into, static_cast<std::size_t>(count));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        into += got;
        count -= static_cast<int>(got);
    }
    return true;
}

UnitServer::Unit* UnitServer::unit_addressed(int id) const {
    if (is_tcp(options_) && (id == kTcpDirectUnit || id == kTcpUnitZero)) return units_.begin()->second.get();
    const auto found = units_.find(id);
    return found == units_.end() ? nullptr : found->second.get();
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
    Unit* unit =
        length > header + (is_tcp(options_) ? 0 : kCrcLength) ? unit_addressed(request[header - 1]) : nullptr;
    if (unit == nullptr) return Handling::keep;

    // The line's faults, then the unit's, each over its own count of requests.
    const std::uint64_t counts[] = {++taken_, ++unit->taken};
    const Faults* faults[] = {&options_.faults, &unit->faults};
    const auto falls = [&](int i, int every) {
        return every > 0 && counts[i] % static_cast<std::uint64_t>(every) == 0;
    };
    const auto hit = [&](int Faults::*every) -> const Faults* {
        for (int i = 0; i < 2; ++i) {
            if (falls(i, faults[i]->*every)) return faults[i];
        }
        return nullptr;
    };
    if (unit->dead) return Handling::keep;
    if (hit(&Faults::close_every)) return is_tcp(options_) ? Handling::close : Handling::keep;
    if (hit(&Faults::drop_every)) return Handling::keep;
    if (const Faults* f = hit(&Faults::exception_every)) {
        modbus_reply_exception(ctx, request, static_cast<unsigned int>(f->exception_code));
        return Handling::keep;
    }
    for (int i = 0; i < 2; ++i) {
        if (faults[i]->delay_ms > 0 && falls(i, faults[i]->delay_every)) {
            if (!wait_unless_stopped(faults[i]->delay_ms)) return Handling::close;
            break;
        }
    }

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
    const bool wrong_write_count = options_.faults.wrong_write_count || unit->faults.wrong_write_count;
    std::lock_guard<std::mutex> lock(image_mutex_);
    if (!RegisterImage::in_map(start, count)) {
        modbus_reply_exception(ctx, request, MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS);
    } else if (wrong_write_count && function == MODBUS_FC_WRITE_MULTIPLE_REGISTERS) {
        write_confirming(ctx, *unit, request, start, count, count + 1);
    } else {
        if (options_.drift && function == MODBUS_FC_READ_HOLDING_REGISTERS && start == 0) {
            unit->drift.step(unit->mapping->tab_registers);
        }
        modbus_reply(ctx, request, length, unit->mapping);
    }
    return Handling::keep;
}

void UnitServer::write_confirming(modbus_t* ctx, Unit& unit, const std::uint8_t* request, int start,
                                  int count, int confirmed) {
    const int header = modbus_get_header_length(ctx);
    const std::uint8_t* values = request + header + 6;
    for (int i = 0; i < count; ++i) {
        unit.mapping->tab_registers[start + i] =
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

bool UnitServer::stopping_now() const {
    std::lock_guard<std::mutex> lock(stop_mutex_);
    return stopping_;
}

bool UnitServer::wait_unless_stopped(int milliseconds) {
    std::unique_lock<std::mutex> lock(stop_mutex_);
    return !stop_cv_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return stopping_; });
}

}  // namespace unit_sim
