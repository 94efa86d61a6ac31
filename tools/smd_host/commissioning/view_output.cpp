#include "view_output.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

ViewOutput::ViewOutput() : terminal_(::isatty(aside_.output_fd()) == 1) {}

void ViewOutput::show(const std::string& frame) {
    const int fd = aside_.output_fd();
    // Home the cursor and clear the screen on a terminal; a blank line between plain frames.
    if (!error_.empty()) return;
    if (!write_all(fd, terminal_ ? "\x1b[H\x1b[2J" + frame : frame + "\n")) {
        error_ = std::string("cannot write standard output: ") + std::strerror(errno);
    }
}

std::size_t ViewOutput::screen_rows() const {
    winsize size{};
    if (!terminal_ || ::ioctl(aside_.output_fd(), TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_row;
}
