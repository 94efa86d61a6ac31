#include "host_runtime/modbus_link.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <modbus/modbus.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace {

constexpr int kMaxReadRegisters = MODBUS_MAX_READ_REGISTERS;    // Modbus standard: 125
constexpr int kMaxWriteRegisters = MODBUS_MAX_WRITE_REGISTERS;  // Modbus standard: 123

bool is_exception(int error) { return (error > MODBUS_ENOBASE && error <= EMBXGTAR) || error == EMBUNKEXC; }

// A reply that arrived but cannot be trusted: the line may still carry the rest of it.
bool is_garbled(int error) {
    return error == EMBBADCRC || error == EMBBADDATA || error == EMBBADEXC || error == EMBBADSLAVE;
}

int milliseconds(double seconds) { return static_cast<int>(std::lround(seconds * 1000)); }

std::string seconds_text(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", seconds);
    return text;
}

// "1 s", "0.5 s": a time-out as the user gave it.
std::string timeout_text(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%g s", seconds);
    return text;
}

// Exception codes by name (Modbus application protocol, section 7).
const char* exception_name(int code) {
    switch (code) {
        case 0x01:
            return "illegal function";
        case 0x02:
            return "illegal data address";
        case 0x03:
            return "illegal data value";
        case 0x04:
            return "server device failure";
        case 0x05:
            return "acknowledge";
        case 0x06:
            return "server device busy";
        case 0x08:
            return "memory parity error";
        case 0x0A:
            return "gateway path unavailable";
        case 0x0B:
            return "gateway target device failed to respond";
        default:
            return "unknown exception";
    }
}

const char* check_request(const ModbusRequest& r) {
    const int max = r.kind == ModbusRequest::Kind::read_registers ? kMaxReadRegisters : kMaxWriteRegisters;
    if (r.start < 0 || r.count < 1 || r.count > max || r.start + r.count > 65536) {
        return "request outside the Modbus limits";
    }
    if (r.kind == ModbusRequest::Kind::write_register && (r.count != 1 || r.values.empty())) {
        return "single write without its value";
    }
    if (r.kind == ModbusRequest::Kind::write_registers &&
        r.values.size() != static_cast<std::size_t>(r.count)) {
        return "write carries fewer values than its count";
    }
    return nullptr;
}

void sleep_seconds(double seconds) {
    if (seconds > 0) std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

// libmodbus's debug output, while a request is on the line, turned into frame trace lines:
// "[01][03]..." is a request as sent, "<01><03>..." a reply as received, "ERROR ..." what went
// wrong. Each line is stamped when it ends, in milliseconds since the link was made.
struct FrameSink {
    std::FILE* out;
    BusLink::Clock::time_point start;
    std::string pending;

    void line(const std::string& text) {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(BusLink::Clock::now() - start);
        std::string hex;
        std::size_t i = 0;
        const char open = text.empty() ? 0 : text[0];
        while ((open == '[' || open == '<') && i + 4 <= text.size() && text[i] == open) {
            hex += (hex.empty() ? "" : " ") + text.substr(i + 1, 2);
            i += 4;
        }
        const std::size_t error = text.find("ERROR ", i);
        const std::string rest = error == std::string::npos ? "" : text.substr(error + 6);
        if (!hex.empty()) {
            std::fprintf(out, "%lld ms %c %s%s%s\n", static_cast<long long>(ms.count()),
                         open == '[' ? '>' : '<', hex.c_str(), rest.empty() ? "" : " ! ", rest.c_str());
        } else if (!rest.empty()) {
            std::fprintf(out, "%lld ms ! %s\n", static_cast<long long>(ms.count()), rest.c_str());
        }
    }
    static ssize_t write(void* cookie, const char* data, std::size_t size) {
        auto* sink = static_cast<FrameSink*>(cookie);
        sink->pending.append(data, size);
        for (std::size_t end; (end = sink->pending.find('\n')) != std::string::npos;) {
            sink->line(sink->pending.substr(0, end));
            sink->pending.erase(0, end + 1);
        }
        std::fflush(sink->out);
        return static_cast<ssize_t>(size);
    }
    static int close(void* cookie) {
        auto* sink = static_cast<FrameSink*>(cookie);
        if (!sink->pending.empty()) sink->line(sink->pending);
        std::fflush(sink->out);
        delete sink;
        return 0;
    }
};

}  // namespace

ModbusLink::ModbusLink(ModbusEndpoint endpoint, LinkSettings settings)
    : endpoint_(std::move(endpoint)), settings_(settings) {
    if (endpoint_.transport == ModbusEndpoint::Transport::rtu) {
        if (endpoint_.baud <= 0) throw std::invalid_argument("no baud rate for " + endpoint_.device);
        ctx_ = modbus_new_rtu(endpoint_.device.c_str(), endpoint_.baud, endpoint_.parity, endpoint_.data_bits,
                              endpoint_.stop_bits);
    } else {
        ctx_ = modbus_new_tcp_pi(endpoint_.host.c_str(), std::to_string(endpoint_.port).c_str());
    }
    if (ctx_ == nullptr) {
        throw std::invalid_argument("cannot use " + endpoint_.describe() + ": " + modbus_strerror(errno));
    }
    modbus_set_slave(ctx_, endpoint_.unit);
    // Recovery stays ours: libmodbus's link recovery can loop forever on a dead unit.
    modbus_set_error_recovery(ctx_, MODBUS_ERROR_RECOVERY_NONE);
    const int timeout_us = std::max(1, static_cast<int>(std::lround(settings_.response_timeout * 1e6)));
    modbus_set_response_timeout(ctx_, static_cast<std::uint32_t>(timeout_us / 1000000),
                                static_cast<std::uint32_t>(timeout_us % 1000000));
    if (settings_.frame_trace != nullptr) {
        auto* sink = new FrameSink{settings_.frame_trace, created_, {}};
        debug_sink_ = fopencookie(sink, "w", {nullptr, &FrameSink::write, nullptr, &FrameSink::close});
        if (debug_sink_ == nullptr) {
            delete sink;
            modbus_free(ctx_);
            throw std::runtime_error("cannot make the frame trace");
        }
        // Each line ends when the frame has gone out or come in: that is when it is stamped.
        std::setvbuf(debug_sink_, nullptr, _IOLBF, 0);
    }
}

ModbusLink::~ModbusLink() {
    disconnect();
    modbus_free(ctx_);
    if (debug_sink_ != nullptr) std::fclose(debug_sink_);
}

// Runs a libmodbus request call with its debug output (printf to stdout, errors to stderr) sent
// to the frame trace, so that the runner's standard output and error stay its own.
template <typename Call>
auto ModbusLink::traced(Call call) {
    if (debug_sink_ == nullptr) return call();
    std::fflush(stdout);
    std::fflush(stderr);
    std::FILE* const out = stdout;
    std::FILE* const err = stderr;
    stdout = stderr = debug_sink_;
    modbus_set_debug(ctx_, TRUE);
    const auto rc = call();
    const int error = errno;
    modbus_set_debug(ctx_, FALSE);
    std::fflush(debug_sink_);
    stdout = out;
    stderr = err;
    errno = error;
    return rc;
}

LinkResult ModbusLink::transact(const ModbusRequest& request) {
    ++counters_.requests;
    LinkResult result;
    if (const char* wrong = check_request(request)) {
        result.error = describe_request(request) + ": " + wrong;
        ++counters_.failures;
        counters_.last_failure = result.error;
        return result;
    }
    for (int attempt_number = 0, busy = 0;;) {
        result.words.clear();
        const Attempt outcome = attempt(request, result);
        if (outcome == Attempt::ok) {
            result.ok = true;
            result.error.clear();
            ++counters_.replies;
            return result;
        }
        // A busy unit is asked again after a wait, apart from the retries of a lost reply.
        if (outcome == Attempt::busy && busy < settings_.busy_retries) {
            ++busy;
            ++counters_.busy_retries;
            sleep_seconds(settings_.busy_wait);
            continue;
        }
        if (outcome != Attempt::retryable || attempt_number >= settings_.retries) {
            ++counters_.failures;
            if (busy > 0) result.error += ", still after " + std::to_string(busy) + " busy retries";
            result.error = describe_request(request) + " on " + endpoint_.describe() + ": " + result.error;
            counters_.last_failure = result.error;
            return result;
        }
        ++attempt_number;
        ++counters_.retries;
    }
}

ModbusLink::Attempt ModbusLink::attempt(const ModbusRequest& request, LinkResult& result) {
    if (!connected_) {
        const auto now = Clock::now();
        if (now < next_connect_) {
            const double wait = std::chrono::duration<double>(next_connect_ - now).count();
            result.error = "no connection, next attempt in " + seconds_text(wait);
            return Attempt::final;
        }
        if (!connect(result.error)) return Attempt::final;
    }
    if (settings_.pause > 0) {
        std::this_thread::sleep_until(
            last_request_end_ +
            std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(settings_.pause)));
    }
    // Whatever is waiting on a serial line belongs to no request of ours.
    if (endpoint_.transport == ModbusEndpoint::Transport::rtu) modbus_flush(ctx_);

    errno = 0;
    int rc = -1;
    int expected = request.count;
    switch (request.kind) {
        case ModbusRequest::Kind::read_registers:
            result.words.resize(static_cast<std::size_t>(request.count));
            rc = traced([&] {
                return modbus_read_registers(ctx_, request.start, request.count, result.words.data());
            });
            break;
        case ModbusRequest::Kind::write_register:
            expected = 1;
            result.words.resize(1);
            rc = traced(
                [&] { return write_register_echoed(request.start, request.values[0], result.words[0]); });
            break;
        case ModbusRequest::Kind::write_registers:
            rc = traced([&] {
                return modbus_write_registers(ctx_, request.start, request.count, request.values.data());
            });
            result.words = {16, static_cast<std::uint16_t>(request.count)};
            break;
    }
    const int error = errno;
    last_request_end_ = Clock::now();
    if (rc == expected) return Attempt::ok;

    result.words.clear();
    const std::string unit = "unit " + std::to_string(endpoint_.unit);
    if (rc >= 0) {
        result.error = "reply of the wrong length";
    } else if (error == EMBBADSLAVE) {
        result.error = "a reply came from another unit than " + unit + ": check the unit id";
    } else {
        result.error = modbus_strerror(error);
    }
    if (rc >= 0 || is_garbled(error)) {
        recover_after_bad_reply();
        return Attempt::retryable;
    }
    if (is_exception(error)) {
        const int code = error == EMBUNKEXC ? 0 : error - MODBUS_ENOBASE;
        char text[128];
        std::snprintf(text, sizeof text, "%s answered exception %02X (%s)", unit.c_str(), code,
                      exception_name(code));
        result.error = text;
        // A TCP server that stands for units behind it answers 0B for a unit id it does not reach.
        if (code == 0x0B) result.error += ": no " + unit + " there, check the unit id";
        ++counters_.exceptions;
        return code == 0x06 ? Attempt::busy : Attempt::final;
    }
    if (error == ETIMEDOUT) {
        result.error = "no reply from " + unit + " within " + timeout_text(settings_.response_timeout);
        ++counters_.timeouts;
        recover_after_bad_reply();
        return Attempt::retryable;
    }
    // The connection broke (reset, closed, device gone): the next attempt makes it again.
    disconnect();
    return Attempt::retryable;
}

// Function 06 sent raw, so that the value the unit echoes is what the device checks (libmodbus's
// own single write accepts a reply that echoes another value). 1 on a reply, -1 with errno set.
int ModbusLink::write_register_echoed(int reg, std::uint16_t value, std::uint16_t& echoed) {
    const std::uint8_t request[] = {
        static_cast<std::uint8_t>(endpoint_.unit), MODBUS_FC_WRITE_SINGLE_REGISTER,
        static_cast<std::uint8_t>(reg >> 8),       static_cast<std::uint8_t>(reg & 0xff),
        static_cast<std::uint8_t>(value >> 8),     static_cast<std::uint8_t>(value & 0xff)};
    if (modbus_send_raw_request(ctx_, request, sizeof request) == -1) return -1;
    std::uint8_t reply[MODBUS_MAX_ADU_LENGTH];
    const int length = modbus_receive_confirmation(ctx_, reply);
    if (length == -1) return -1;
    const int h = modbus_get_header_length(ctx_);
    if (length >= h + 2 && reply[h] == (MODBUS_FC_WRITE_SINGLE_REGISTER | 0x80)) {
        const int code = reply[h + 1];
        errno = code >= MODBUS_EXCEPTION_ILLEGAL_FUNCTION && code < MODBUS_EXCEPTION_MAX
                    ? MODBUS_ENOBASE + code
                    : EMBUNKEXC;
        return -1;
    }
    if (length < h + 5 || reply[h - 1] != request[0] || reply[h] != MODBUS_FC_WRITE_SINGLE_REGISTER ||
        reply[h + 1] != request[2] || reply[h + 2] != request[3]) {
        errno = EMBBADDATA;
        return -1;
    }
    echoed = static_cast<std::uint16_t>((reply[h + 3] << 8) | reply[h + 4]);
    return 1;
}

bool ModbusLink::connect(std::string& error) {
    const bool made =
        endpoint_.transport == ModbusEndpoint::Transport::tcp ? connect_tcp(error) : connect_rtu(error);
    if (!made) {
        backoff_ = backoff_ <= 0 ? settings_.reconnect_min : std::min(2 * backoff_, settings_.reconnect_max);
        next_connect_ = Clock::now() +
                        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(backoff_));
        error += ", next attempt in " + seconds_text(backoff_);
        return false;
    }
    if (ever_connected_) ++counters_.reconnects;
    ever_connected_ = true;
    connected_ = true;
    backoff_ = 0;
    // Some gateways drop a request sent right after the connection opens.
    sleep_seconds(settings_.pause_after_connect);
    return true;
}

bool ModbusLink::connect_rtu(std::string& error) {
    if (modbus_connect(ctx_) == -1) {
        error = std::string("cannot open the serial device: ") + modbus_strerror(errno);
        return false;
    }
    if (modbus_get_socket(ctx_) >= FD_SETSIZE) {
        modbus_close(ctx_);
        error = "cannot use the serial device: descriptor at or above FD_SETSIZE";
        return false;
    }
    const auto refuse = [this](const char* setting) {
        const std::string reason = modbus_strerror(errno);
        modbus_close(ctx_);
        throw LinkSettingRefused(endpoint_.device, setting, reason);
    };
    if (settings_.rs485 && modbus_rtu_set_serial_mode(ctx_, MODBUS_RTU_RS485) == -1) refuse("rs485");
    if (settings_.rts != 0) {
        // libmodbus ignores a failed RTS ioctl: a device without modem lines is found here.
        int lines = 0;
        if (ioctl(modbus_get_socket(ctx_), TIOCMGET, &lines) == -1) refuse("rts");
        if (modbus_rtu_set_rts(ctx_, settings_.rts > 0 ? MODBUS_RTU_RTS_UP : MODBUS_RTU_RTS_DOWN) == -1 ||
            (settings_.rts_delay_us >= 0 && modbus_rtu_set_rts_delay(ctx_, settings_.rts_delay_us) == -1)) {
            refuse("rts");
        }
    }
    return true;
}

// The socket is made here rather than by libmodbus so that its descriptor is checked before any
// select() sees it, and so that the connection attempt is bounded by the response time-out.
bool ModbusLink::connect_tcp(std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int gai =
        getaddrinfo(endpoint_.host.c_str(), std::to_string(endpoint_.port).c_str(), &hints, &found);
    if (gai != 0) {
        error = std::string("cannot resolve the host name: ") + gai_strerror(gai);
        return false;
    }
    error = "cannot connect";
    int fd = -1;
    for (addrinfo* a = found; a != nullptr && fd < 0; a = a->ai_next) {
        fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
        if (fd < 0) {
            error += std::string(": ") + std::strerror(errno);
            continue;
        }
        if (fd >= FD_SETSIZE) {
            error += ": descriptor at or above FD_SETSIZE";
            close(fd);
            fd = -1;
            break;
        }
        int rc = ::connect(fd, a->ai_addr, a->ai_addrlen);
        int failure = rc == 0 ? 0 : errno;
        if (failure == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            rc = poll(&p, 1, std::max(1, milliseconds(settings_.response_timeout)));
            failure = ETIMEDOUT;
            socklen_t length = sizeof failure;
            if (rc == 1) getsockopt(fd, SOL_SOCKET, SO_ERROR, &failure, &length);
        }
        if (failure == ETIMEDOUT) {
            error += ": no answer within " + timeout_text(settings_.response_timeout);
            close(fd);
            fd = -1;
        } else if (failure != 0) {
            error += std::string(": ") + std::strerror(failure);
            close(fd);
            fd = -1;
        }
    }
    freeaddrinfo(found);
    if (fd < 0) return false;
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    modbus_set_socket(ctx_, fd);
    error.clear();
    return true;
}

void ModbusLink::disconnect() {
    if (connected_) modbus_close(ctx_);
    connected_ = false;
}

void ModbusLink::recover_after_bad_reply() {
    if (endpoint_.transport == ModbusEndpoint::Transport::tcp) {
        // The late reply dies with the old connection; the next attempt connects afresh.
        disconnect();
    } else {
        drain_serial_input();
    }
}

// Discards serial input until the line has been quiet for one response time-out, bounded by four.
void ModbusLink::drain_serial_input() {
    const int fd = modbus_get_socket(ctx_);
    const int quiet_ms = std::max(1, milliseconds(settings_.response_timeout));
    const auto limit = Clock::now() + std::chrono::milliseconds(4 * quiet_ms);
    modbus_flush(ctx_);
    unsigned char discard[256];
    while (Clock::now() < limit) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, quiet_ms) != 1 || (p.revents & POLLIN) == 0) break;
        if (read(fd, discard, sizeof discard) <= 0) break;
    }
}
