#include "framework/snapshot_text.h"

#include <sys/mman.h>

#include <cstring>

namespace framework {

SnapshotText::SnapshotText(std::string_view text) : size_(text.size()) {
    if (size_ > 0) {
        void* mapped = mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapped != MAP_FAILED) {
            data_ = static_cast<char*>(mapped);
            mapped_ = size_;
        }
    }
    if (data_ == nullptr) data_ = new char[size_ + 1];
    if (size_ > 0) std::memcpy(data_, text.data(), size_);
}

SnapshotText::~SnapshotText() {
    if (mapped_ > 0) {
        munmap(data_, mapped_);
    } else {
        delete[] data_;
    }
}

}  // namespace framework
