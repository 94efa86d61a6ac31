#include "host_runtime/record_history.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <boost/crc.hpp>

namespace {

constexpr char kMagic[4] = {'P', 'X', 'R', 'H'};
constexpr std::size_t kHeaderSize = 8;   // magic, length
constexpr std::size_t kTrailerSize = 4;  // CRC-32
constexpr std::uint32_t kMaxRecord = 1u << 20;

void put_u32(std::uint8_t* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t get_u32(const std::uint8_t* at) {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<std::uint32_t>(at[i]) << (8 * i);
    return value;
}

std::runtime_error io_error(const std::string& what, const std::string& path) {
    return std::runtime_error(what + " " + path + ": " + std::strerror(errno));
}

}  // namespace

std::uint32_t crc32(const std::uint8_t* bytes, std::size_t length) {
    boost::crc_32_type crc;
    crc.process_bytes(bytes, length);
    return crc.checksum();
}

RecordHistoryReader::RecordHistoryReader(const std::string& path) : path_(path) {
    file_ = std::fopen(path.c_str(), "rbe");
    if (file_ == nullptr) throw io_error("cannot read history", path);
}

RecordHistoryReader::~RecordHistoryReader() { std::fclose(file_); }

bool RecordHistoryReader::next(std::vector<std::uint8_t>& record) {
    std::uint8_t header[kHeaderSize];
    if (std::fseek(file_, static_cast<long>(valid_bytes_), SEEK_SET) != 0 ||
        std::fread(header, 1, kHeaderSize, file_) != kHeaderSize) {
        return false;
    }
    const std::uint32_t length = get_u32(header + 4);
    if (std::memcmp(header, kMagic, sizeof kMagic) != 0 || length > kMaxRecord) return false;
    record.resize(length + kTrailerSize);
    if (std::fread(record.data(), 1, record.size(), file_) != record.size()) return false;
    if (crc32(record.data(), length) != get_u32(record.data() + length)) return false;
    record.resize(length);
    valid_bytes_ += kHeaderSize + length + kTrailerSize;
    return true;
}

bool RecordHistoryReader::torn_tail() const {
    if (std::fseek(file_, 0, SEEK_END) != 0) throw io_error("cannot read history", path_);
    return static_cast<std::size_t>(std::ftell(file_)) != valid_bytes_;
}

RecordHistory read_record_history(const std::string& path) {
    RecordHistory history;
    RecordHistoryReader reader(path);
    for (std::vector<std::uint8_t> record; reader.next(record);) history.records.push_back(record);
    history.valid_bytes = reader.valid_bytes();
    history.torn_tail = reader.torn_tail();
    return history;
}

RecordHistoryWriter::RecordHistoryWriter(const std::string& path) : path_(path) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) throw io_error("cannot open history", path);
    // Cut off a torn last frame so that the next record starts on a frame boundary.
    std::size_t valid_bytes = 0;
    {
        RecordHistoryReader reader(path);
        for (std::vector<std::uint8_t> record; reader.next(record);) {
        }
        valid_bytes = reader.valid_bytes();
    }
    if (::ftruncate(fd_, static_cast<off_t>(valid_bytes)) != 0 || ::lseek(fd_, 0, SEEK_END) < 0) {
        const auto error = io_error("cannot repair history", path);
        ::close(fd_);
        throw error;
    }
}

RecordHistoryWriter::~RecordHistoryWriter() {
    if (fd_ >= 0) ::close(fd_);
}

void RecordHistoryWriter::append(const std::uint8_t* bytes, std::size_t length) {
    if (length > kMaxRecord) throw std::runtime_error("history record too large");
    std::vector<std::uint8_t> frame(kHeaderSize + length + kTrailerSize);
    std::memcpy(frame.data(), kMagic, sizeof kMagic);
    put_u32(frame.data() + 4, static_cast<std::uint32_t>(length));
    if (length > 0) std::memcpy(frame.data() + kHeaderSize, bytes, length);
    put_u32(frame.data() + kHeaderSize + length, crc32(bytes, length));
    std::size_t written = 0;
    while (written < frame.size()) {
        const ssize_t n = ::write(fd_, frame.data() + written, frame.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw io_error("cannot append to history", path_);
        written += static_cast<std::size_t>(n);
    }
    if (::fdatasync(fd_) != 0) throw io_error("cannot flush history", path_);
}
