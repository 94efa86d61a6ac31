#include "host_runtime/modbus_link.h"

#include <arpa/inet.h>
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

#include "host_runtime/modbus_frame.h"

namespace {

int milliseconds(double seconds) { return static_cast<int>(std::lround(seconds * 1000)); }

// The silence that ends an RTU frame: 3.5 characters of the line's format (start bit, data bits,
// parity bit, stop bits), and 1.75 ms above 19200 baud (Modbus over serial line).
BusLink::Clock::duration frame_silence(const ModbusEndpoint& line) {
    if (line.baud > 19200) return std::chrono::microseconds(1750);
    const int bits = 1 + line.data_bits + (line.parity == 'N' ? 0 : 1) + line.stop_bits;
    return std::chrono::microseconds(static_cast<long>(std::ceil(3.5 * bits * 1e6 / line.baud)));
}

// "1 s", "0.5 s": a time-out as the user gave it.
std::string timeout_text(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%g s", seconds);
    return text;
}

// What libmodbus's failed confirmation call means for the request, by its errno.
LinkFailure failure_of(int error) {
    if (error == ETIMEDOUT) return LinkFailure::timeout;
    if (error == EMBBADCRC || error == EMBBADDATA || error == EMBBADEXC || error == EMBMDATA)
        return LinkFailure::garbled;
    return LinkFailure::connection_lost;
}

}  // namespace

ModbusLink::ModbusLink(ModbusEndpoint endpoint_given, LinkSettings settings)
    : PatientLink(std::move(endpoint_given), std::move(settings)) {
    const ModbusEndpoint& where = endpoint();
    if (where.transport == ModbusEndpoint::Transport::rtu) {
        if (where.baud <= 0) throw std::invalid_argument("no baud rate for " + where.device);
        frame_silence_ = frame_silence(where);
        ctx_ =
            modbus_new_rtu(where.device.c_str(), where.baud, where.parity, where.data_bits, where.stop_bits);
    } else {
        ctx_ = modbus_new_tcp_pi(where.host.c_str(), std::to_string(where.port).c_str());
    }
    if (ctx_ == nullptr) {
        throw std::invalid_argument("cannot use " + where.describe() + ": " + modbus_strerror(errno));
    }
    modbus_set_slave(ctx_, where.unit);
    // Recovery stays ours: libmodbus's link recovery can loop forever on a dead unit.
    modbus_set_error_recovery(ctx_, MODBUS_ERROR_RECOVERY_NONE);
    const double timeout = this->settings().response_timeout;
    const int timeout_us = std::max(1, static_cast<int>(std::lround(timeout * 1e6)));
    modbus_set_response_timeout(ctx_, static_cast<std::uint32_t>(timeout_us / 1000000),
                                static_cast<std::uint32_t>(timeout_us % 1000000));
}

ModbusLink::~ModbusLink() {
    drop("the link ended");
    modbus_free(ctx_);
}

bool ModbusLink::open_line(std::string& error, WireEvent& opened) {
    return endpoint().transport == ModbusEndpoint::Transport::tcp ? connect_tcp(error, opened)
                                                                  : connect_rtu(error);
}

void ModbusLink::close_connection() { modbus_close(ctx_); }

// The request goes out through libmodbus's raw call, which adds the MBAP header or the CRC; the
// reply comes back whole through its confirmation call and is checked here against the request.
void ModbusLink::exchange(const ModbusRequest& request, LinkResult& result) {
    const ModbusEndpoint& where = endpoint();
    const bool rtu = where.transport == ModbusEndpoint::Transport::rtu;
    if (rtu) {
        // A request sent sooner after the last reply would run on from it for the other units.
        const auto quiet = line_quiet_from_ + frame_silence_;
        if (now() < quiet && !wait_until(quiet)) {
            result.failure = LinkFailure::interrupted;
            result.error = "stopped before the request";
            return;
        }
        // Whatever is waiting on a serial line belongs to no request of ours.
        modbus_flush(ctx_);
    }
    // The line may carry several units: libmodbus's RTU backend sets aside another unit's frame.
    modbus_set_slave(ctx_, where.unit);

    const std::vector<std::uint8_t> message = modbus_frame::request_message(request, where.unit);
    const std::vector<std::uint8_t> sent = modbus_frame::wire_frame(message, where.transport);
    const auto sent_at = Clock::now();
    tell(WireFrame{WireFrame::Direction::request, std::chrono::system_clock::now(), sent.data(), sent.size(),
                   0});
    if (modbus_send_raw_request(ctx_, message.data(), static_cast<int>(message.size())) == -1) {
        result.failure = LinkFailure::connection_lost;
        result.error = modbus_strerror(errno);
        drop(result.error);
        return;
    }
    std::uint8_t reply[MODBUS_MAX_ADU_LENGTH];
    errno = 0;
    const int length = modbus_receive_confirmation(ctx_, reply);
    const int error = errno;
    line_quiet_from_ = now();
    const double round_trip_ms = std::chrono::duration<double, std::milli>(Clock::now() - sent_at).count();
    const std::string unit_name = "unit " + std::to_string(where.unit);
    if (length > 0) {
        tell(WireFrame{WireFrame::Direction::reply, std::chrono::system_clock::now(), reply,
                       static_cast<std::size_t>(length), round_trip_ms});
        const modbus_frame::MessageView answer =
            modbus_frame::message_of(reply, static_cast<std::size_t>(length), where.transport);
        modbus_frame::check_reply(request, where.unit, answer.bytes, answer.size, result);
    } else if (length == 0) {
        // libmodbus's RTU backend sets aside a frame addressed to another unit before its CRC.
        result.failure = LinkFailure::other_unit;
        result.error = "a reply came from another unit than " + unit_name + ": check the unit id";
    } else {
        result.failure = failure_of(error);
        result.error = error == ETIMEDOUT ? "no reply from " + unit_name + " within " +
                                                timeout_text(settings().response_timeout)
                                          : std::string(modbus_strerror(error));
    }
    switch (result.failure) {
        case LinkFailure::timeout:
        case LinkFailure::garbled:
        case LinkFailure::other_unit:
            tell(WireEvent::Kind::no_reply, result.error);
            recover_after_bad_reply(result.error);
            break;
        case LinkFailure::connection_lost:
            // The connection broke (reset, closed, device gone): the next attempt makes it again.
            drop(result.error);
            break;
        default:
            break;
    }
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
        throw LinkSettingRefused(endpoint().device, setting, reason);
    };
    if (settings().rs485 && modbus_rtu_set_serial_mode(ctx_, MODBUS_RTU_RS485) == -1) refuse("rs485");
    if (settings().rts != 0) {
        // libmodbus ignores a failed RTS ioctl: a device without modem lines is found here.
        int lines = 0;
        if (ioctl(modbus_get_socket(ctx_), TIOCMGET, &lines) == -1) refuse("rts");
        if (modbus_rtu_set_rts(ctx_, settings().rts > 0 ? MODBUS_RTU_RTS_UP : MODBUS_RTU_RTS_DOWN) == -1 ||
            (settings().rts_delay_us >= 0 && modbus_rtu_set_rts_delay(ctx_, settings().rts_delay_us) == -1)) {
            refuse("rts");
        }
    }
    return true;
}

// The socket is made here rather than by libmodbus so that its descriptor is checked before any
// select() sees it, and so that the connection attempt is bounded by the response time-out.
bool ModbusLink::connect_tcp(std::string& error, WireEvent& opened) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int gai =
        getaddrinfo(endpoint().host.c_str(), std::to_string(endpoint().port).c_str(), &hints, &found);
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
            rc = poll(&p, 1, std::max(1, milliseconds(settings().response_timeout)));
            failure = ETIMEDOUT;
            socklen_t length = sizeof failure;
            if (rc == 1) getsockopt(fd, SOL_SOCKET, SO_ERROR, &failure, &length);
        }
        if (failure == ETIMEDOUT) {
            error += ": no answer within " + timeout_text(settings().response_timeout);
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
    socklen_t length = sizeof opened.local;
    getsockname(fd, reinterpret_cast<sockaddr*>(&opened.local), &length);
    length = sizeof opened.peer;
    getpeername(fd, reinterpret_cast<sockaddr*>(&opened.peer), &length);
    error.clear();
    return true;
}

void ModbusLink::recover_after_bad_reply(const std::string& reason) {
    if (endpoint().transport == ModbusEndpoint::Transport::tcp) {
        // The late reply dies with the old connection; the next attempt connects afresh.
        drop(reason);
    } else {
        drain_serial_input();
    }
}

// Discards serial input until the line has been quiet for one response time-out, bounded by four.
void ModbusLink::drain_serial_input() {
    const int fd = modbus_get_socket(ctx_);
    const int quiet_ms = std::max(1, milliseconds(settings().response_timeout));
    const auto limit = Clock::now() + std::chrono::milliseconds(4 * quiet_ms);
    modbus_flush(ctx_);
    unsigned char discard[256];
    while (Clock::now() < limit) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, quiet_ms) != 1 || (p.revents & POLLIN) == 0) break;
        if (read(fd, discard, sizeof discard) <= 0) break;
    }
    line_quiet_from_ = now();
}
