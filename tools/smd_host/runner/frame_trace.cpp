#include "frame_trace.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <stdexcept>

#include "host_runtime/modbus_frame.h"

namespace {

// Written out before this much is kept, whatever the rounds do.
constexpr std::size_t kMaxPending = 1 << 20;

// "2026-12-09T14:03:05.123+01:00": local time with milliseconds and the offset from UTC.
std::string iso_time(std::chrono::system_clock::time_point at) {
    const auto since = at.time_since_epoch();
    const std::time_t seconds = std::chrono::duration_cast<std::chrono::seconds>(since).count();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(since).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[48];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    const long offset = local.tm_gmtoff / 60;
    std::snprintf(text + n, sizeof text - n, ".%03d%c%02ld:%02ld", static_cast<int>(ms),
                  offset < 0 ? '-' : '+', std::labs(offset) / 60, std::labs(offset) % 60);
    return text;
}

std::string hex_bytes(const std::uint8_t* bytes, std::size_t size) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(3 * size);
    for (std::size_t i = 0; i < size; ++i) {
        if (i > 0) text += ' ';
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0xf];
    }
    return text;
}

// "127.0.0.1:40122", "[::1]:502"; empty for a line without addresses.
std::string address_text(const sockaddr_storage& address) {
    char host[INET6_ADDRSTRLEN] = "";
    if (address.ss_family == AF_INET) {
        const auto& in = reinterpret_cast<const sockaddr_in&>(address);
        inet_ntop(AF_INET, &in.sin_addr, host, sizeof host);
        return std::string(host) + ":" + std::to_string(ntohs(in.sin_port));
    }
    if (address.ss_family == AF_INET6) {
        const auto& in6 = reinterpret_cast<const sockaddr_in6&>(address);
        inet_ntop(AF_INET6, &in6.sin6_addr, host, sizeof host);
        return "[" + std::string(host) + "]:" + std::to_string(ntohs(in6.sin6_port));
    }
    return std::string();
}

std::string event_text(const WireEvent& event) {
    switch (event.kind) {
        case WireEvent::Kind::connected:
        case WireEvent::Kind::reconnected: {
            std::string text = event.kind == WireEvent::Kind::connected ? "connected" : "reconnected";
            const std::string local = address_text(event.local);
            if (!local.empty()) text += " " + local + " to " + address_text(event.peer);
            return text;
        }
        case WireEvent::Kind::connect_failed:
            return "! " + event.detail;
        case WireEvent::Kind::closed:
            return "closed: " + event.detail;
        case WireEvent::Kind::no_reply:
            return "! " + event.detail;
    }
    return event.detail;
}

}  // namespace

FrameTrace::FrameTrace(const std::string& path) : path_(path) {
    file_ = std::fopen(path.c_str(), "a");
    if (file_ == nullptr) {
        throw std::runtime_error("cannot write the frame trace " + path + ": " + std::strerror(errno));
    }
    pending_ = "# smd-host " PX46_VERSION " frame trace, started " +
               iso_time(std::chrono::system_clock::now()) + "\n";
}

FrameTrace::~FrameTrace() {
    flush();
    std::fclose(file_);
}

void FrameTrace::line(std::chrono::system_clock::time_point at, const std::string& link,
                      const std::string& text) {
    pending_ += iso_time(at);
    pending_ += "  ";
    pending_ += link;
    pending_ += "  ";
    pending_ += text;
    pending_ += '\n';
}

void FrameTrace::on_frame(const ModbusEndpoint& endpoint, const WireFrame& frame) {
    const bool request = frame.direction == WireFrame::Direction::request;
    const auto message = modbus_frame::message_of(frame.bytes, frame.size, endpoint.transport);
    const std::string link = endpoint.describe();
    std::string text = request ? ">  " : "<  ";
    text += hex_bytes(frame.bytes, frame.size);
    text += "  ";
    std::lock_guard<std::mutex> lock(mutex_);
    int& first_register = last_first_register_[link];
    if (request) first_register = modbus_frame::first_register_of(message);
    text += modbus_frame::describe_message(message, request, first_register);
    if (!request) {
        char round_trip[32];
        std::snprintf(round_trip, sizeof round_trip, "  %.1f ms", frame.round_trip_ms);
        text += round_trip;
    }
    line(frame.at, link, text);
    if (pending_.size() >= kMaxPending) {
        // Large writes of a long round still reach the file in bounded memory.
        std::fwrite(pending_.data(), 1, pending_.size(), file_);
        pending_.clear();
    }
}

void FrameTrace::on_event(const ModbusEndpoint& endpoint, const WireEvent& event) {
    const std::string text = event_text(event);
    std::lock_guard<std::mutex> lock(mutex_);
    line(event.at, endpoint.describe(), text);
}

void FrameTrace::round_started(const std::string& link, int round) {
    std::lock_guard<std::mutex> lock(mutex_);
    line(std::chrono::system_clock::now(), link, "round " + std::to_string(round) + " started");
}

void FrameTrace::round_ended(const std::string& link, int round, const std::string& outcome) {
    std::lock_guard<std::mutex> lock(mutex_);
    line(std::chrono::system_clock::now(), link, "round " + std::to_string(round) + " " + outcome);
}

bool FrameTrace::flush() {
    std::lock_guard<std::mutex> lock(mutex_);
    errno = 0;
    const bool written = std::fwrite(pending_.data(), 1, pending_.size(), file_) == pending_.size() &&
                         std::fflush(file_) == 0 && !std::ferror(file_);
    pending_.clear();
    if (!written && error_.empty()) {
        error_ = "cannot write the frame trace " + path_ +
                 (errno != 0 ? std::string(": ") + std::strerror(errno) : "");
    }
    return written;
}

std::string FrameTrace::error() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
}
