#include "view_output.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

namespace {

// False, with errno set, when the text could not be written whole.
bool write_all(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

ViewOutput::ViewOutput() {
    std::cout.flush();
    std::fflush(stdout);
    terminal_ = ::isatty(STDOUT_FILENO) == 1;
    view_fd_ = ::dup(STDOUT_FILENO);
    const int null_fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (view_fd_ >= 0 && null_fd >= 0) ::dup2(null_fd, STDOUT_FILENO);
    if (null_fd >= 0) ::close(null_fd);
}

ViewOutput::~ViewOutput() {
    std::cout.flush();
    std::fflush(stdout);
    if (view_fd_ >= 0) {
        ::dup2(view_fd_, STDOUT_FILENO);
        ::close(view_fd_);
    }
}

void ViewOutput::show(const std::string& frame) {
    const int fd = view_fd_ >= 0 ? view_fd_ : STDOUT_FILENO;
    // Home the cursor and clear the screen on a terminal; a blank line between plain frames.
    if (!error_.empty()) return;
    if (!write_all(fd, terminal_ ? "\x1b[H\x1b[2J" + frame : frame + "\n")) {
        error_ = std::string("cannot write standard output: ") + std::strerror(errno);
    }
}

std::size_t ViewOutput::screen_rows() const {
    winsize size{};
    if (!terminal_ || ::ioctl(view_fd_, TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_row;
}
