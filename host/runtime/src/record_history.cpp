#include "host_runtime/record_history.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <boost/crc.hpp>

namespace {

constexpr char kMagic[4] = {'P', 'X', 'R', 'H'};
constexpr std::size_t kHeaderSize = 8;   // magic, length
constexpr std::size_t kTrailerSize = 4;  // CRC-32
constexpr std::uint32_t kMaxRecord = 1u << 20;
constexpr const char* kNoFrame = "no frame starts there";

void put_u32(std::uint8_t* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t get_u32(const std::uint8_t* at) {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<std::uint32_t>(at[i]) << (8 * i);
    return value;
}

std::runtime_error io_error(const std::string& what, const std::string& path, int error = errno) {
    return std::runtime_error(what + " " + path + ": " + std::strerror(error));
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
    struct stat status {};
    if (::fstat(::fileno(file_), &status) != 0 || S_ISDIR(status.st_mode)) {
        const int error = S_ISDIR(status.st_mode) ? EISDIR : errno;
        std::fclose(file_);
        throw io_error("cannot read history", path, error);
    }
}

RecordHistoryReader::~RecordHistoryReader() { std::fclose(file_); }

std::size_t RecordHistoryReader::read_up_to(std::uint8_t* into, std::size_t count) {
    const std::size_t got = std::fread(into, 1, count, file_);
    if (std::ferror(file_)) throw io_error("cannot read history", path_);
    return got;
}

HistoryDamage RecordHistoryReader::damage(const std::string& why) const {
    if (valid_bytes_ == 0 && why == std::string(kNoFrame)) {
        return HistoryDamage(path_ + " is not a history file: it does not start with \"PXRH\"");
    }
    return HistoryDamage("history " + path_ + ": the record at byte " + std::to_string(valid_bytes_) +
                         " is damaged (" + why + ")");
}

bool RecordHistoryReader::next(std::vector<std::uint8_t>& record) {
    if (torn_) return false;
    if (std::fseek(file_, static_cast<long>(valid_bytes_), SEEK_SET) != 0) {
        throw io_error("cannot read history", path_);
    }
    std::uint8_t header[kHeaderSize];
    const std::size_t got = read_up_to(header, kHeaderSize);
    if (got == 0) return false;
    // A frame is written whole by one write: a crash leaves the first bytes of one, which start
    // as every frame starts and run to the end of the file.
    if (std::memcmp(header, kMagic, std::min(got, sizeof kMagic)) != 0) throw damage(kNoFrame);
    torn_ = true;
    if (got < kHeaderSize) return false;
    const std::uint32_t length = get_u32(header + 4);
    if (length > kMaxRecord) {
        throw damage("its length " + std::to_string(length) + " is more than a record may have");
    }
    record.resize(length + kTrailerSize);
    if (read_up_to(record.data(), record.size()) != record.size()) return false;
    if (crc32(record.data(), length) != get_u32(record.data() + length)) {
        // Bytes the file was extended by but never written, when the frame is the last one.
        std::uint8_t after = 0;
        if (read_up_to(&after, 1) == 0) return false;
        throw damage("its check fails");
    }
    torn_ = false;
    record.resize(length);
    valid_bytes_ += kHeaderSize + length + kTrailerSize;
    return true;
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
    // Only a torn last frame is cut off, so that the next record starts on a frame boundary; a
    // file that is no history, or one damaged before its end, is left as it is.
    std::size_t valid_bytes = 0;
    try {
        RecordHistoryReader reader(path);
        for (std::vector<std::uint8_t> record; reader.next(record);) {
        }
        valid_bytes = reader.valid_bytes();
        if (reader.torn_tail()) {
            struct stat status {};
            if (::fstat(fd_, &status) == 0)
                cut_bytes_ = static_cast<std::size_t>(status.st_size) - valid_bytes;
        }
    } catch (const HistoryDamage& e) {
        ::close(fd_);
        throw HistoryDamage(std::string(e.what()) + "; not appended to");
    } catch (...) {
        ::close(fd_);
        throw;
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
