#pragma once

#include <cstddef>
#include <string_view>

namespace framework {

// The snapshot written as text (about 130 KB), kept for further requests within a round. It lives
// in a mapping of its own, not on the heap: a freed heap block of its size stays resident among
// the blocks around it once the allocator has raised its threshold for mapping large blocks (it
// does so at the first such block freed), whereas a mapping goes back to the system as soon as
// the text is released. The heap is the host's, so the plug-in neither trims nor tunes it. When no
// mapping can be made the text is kept on the heap instead.
class SnapshotText {
public:
    explicit SnapshotText(std::string_view text);
    ~SnapshotText();
    SnapshotText(const SnapshotText&) = delete;
    SnapshotText& operator=(const SnapshotText&) = delete;

    const char* data() const { return data_; }
    std::size_t size() const { return size_; }

private:
    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t mapped_ = 0;  // bytes mapped; 0 when the text is on the heap
};

}  // namespace framework
