#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

// Two pseudo-terminals joined back to back like a null-modem cable: what a program writes to one
// end's device comes out of the other end's, so a serial server and a serial client can meet
// without hardware. The test keeps each end's device open too, so the line never hangs up while
// a program closes and opens its end again.
class NullModem {
public:
    NullModem() {
        for (End& end : ends_) {
            char name[128];
            termios raw{};
            cfmakeraw(&raw);
            if (openpty(&end.master, &end.slave, name, &raw, nullptr) != 0)
                throw std::runtime_error("openpty");
            end.device = name;
        }
        if (pipe2(wake_, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
        thread_ = std::thread([this] { carry(); });
    }
    ~NullModem() {
        const char byte = 1;
        (void)!write(wake_[1], &byte, 1);
        thread_.join();
        for (End& end : ends_) {
            close(end.master);
            close(end.slave);
        }
        close(wake_[0]);
        close(wake_[1]);
    }
    NullModem(const NullModem&) = delete;
    NullModem& operator=(const NullModem&) = delete;

    const std::string& device_a() const { return ends_[0].device; }
    const std::string& device_b() const { return ends_[1].device; }

    // What the cable carried so far, a piece for each read: from end a (0) or b (1), when.
    struct Piece {
        int from;
        std::chrono::steady_clock::time_point at;
        std::size_t bytes;
    };
    std::vector<Piece> carried() const {
        std::lock_guard<std::mutex> lock(carried_mutex_);
        return carried_;
    }

private:
    struct End {
        int master = -1;
        int slave = -1;
        std::string device;
    };

    void carry() {
        char buffer[512];
        for (;;) {
            pollfd waits[3] = {
                {ends_[0].master, POLLIN, 0}, {ends_[1].master, POLLIN, 0}, {wake_[0], POLLIN, 0}};
            if (poll(waits, 3, -1) < 0) continue;
            if (waits[2].revents != 0) return;
            for (int i = 0; i < 2; ++i) {
                if ((waits[i].revents & POLLIN) == 0) continue;
                const ssize_t n = read(ends_[i].master, buffer, sizeof buffer);
                if (n <= 0) continue;
                {
                    std::lock_guard<std::mutex> lock(carried_mutex_);
                    carried_.push_back({i, std::chrono::steady_clock::now(), static_cast<std::size_t>(n)});
                }
                (void)!write(ends_[1 - i].master, buffer, static_cast<std::size_t>(n));
            }
        }
    }

    End ends_[2];
    int wake_[2] = {-1, -1};
    mutable std::mutex carried_mutex_;
    std::vector<Piece> carried_;
    std::thread thread_;
};
