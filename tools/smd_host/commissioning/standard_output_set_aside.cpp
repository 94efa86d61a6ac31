#include "standard_output_set_aside.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

namespace {

void flush_standard_output() {
    std::cout.flush();
    std::fflush(stdout);
}

}  // namespace

StandardOutputSetAside::StandardOutputSetAside() {
    flush_standard_output();
    saved_fd_ = ::dup(STDOUT_FILENO);
    const int null_fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved_fd_ >= 0 && null_fd >= 0) ::dup2(null_fd, STDOUT_FILENO);
    if (null_fd >= 0) ::close(null_fd);
}

StandardOutputSetAside::~StandardOutputSetAside() {
    flush_standard_output();
    if (saved_fd_ >= 0) {
        ::dup2(saved_fd_, STDOUT_FILENO);
        ::close(saved_fd_);
    }
}

int StandardOutputSetAside::output_fd() const { return saved_fd_ >= 0 ? saved_fd_ : STDOUT_FILENO; }
