#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/host_api.h"

// The host's record history on disk: published records appended one after another, each framed
// as "PXRH", its length (u32, little-endian), the record bytes and a CRC-32 of them. A record is
// written whole and flushed to the disk before append returns, so a crash loses at most the
// record being written; such a torn last frame (the first bytes of a frame, running to the end of
// the file, or a last frame whose check fails) is recognised and left out when the file is read,
// and cut off when the file is opened for appending again. Anything else that is not a whole
// frame is damage no crash leaves: the file is not a history, or was damaged, and is refused.

// Thrown when a file is not a history or a frame before its last one is damaged; the message
// names the file and the byte offset of the frame.
struct SMD_HOST_API HistoryDamage : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class SMD_HOST_API RecordHistoryWriter {
public:
    // Opens `path` for appending, creating it and cutting off a torn last frame; throws
    // HistoryDamage, leaving the file as it was, when it is no history or is damaged, and
    // std::runtime_error when it cannot be opened.
    explicit RecordHistoryWriter(const std::string& path);
    ~RecordHistoryWriter();
    RecordHistoryWriter(const RecordHistoryWriter&) = delete;
    RecordHistoryWriter& operator=(const RecordHistoryWriter&) = delete;

    // Appends one record; throws std::runtime_error when it cannot be written whole.
    void append(const std::uint8_t* bytes, std::size_t length);
    // The bytes of a torn last frame cut off when the file was opened; 0 when there was none.
    std::size_t cut_bytes() const { return cut_bytes_; }

private:
    int fd_ = -1;
    std::string path_;
    std::size_t cut_bytes_ = 0;
};

// Reads the whole records of a history file one at a time, in order, holding only the current
// one: a month of site recording is scanned without reading it into memory.
class SMD_HOST_API RecordHistoryReader {
public:
    // Opens `path`; throws std::runtime_error, with the system's reason, when it cannot be read.
    explicit RecordHistoryReader(const std::string& path);
    ~RecordHistoryReader();
    RecordHistoryReader(const RecordHistoryReader&) = delete;
    RecordHistoryReader& operator=(const RecordHistoryReader&) = delete;

    // The next whole record into `record`; false after the last one. Throws HistoryDamage when
    // the file is not a history or the frame at the current offset is damaged and is not the last.
    bool next(std::vector<std::uint8_t>& record);
    // The length of the file up to the last whole record read so far.
    std::size_t valid_bytes() const { return valid_bytes_; }
    // Once next() has returned false: whether a torn last frame follows the last whole record.
    bool torn_tail() const { return torn_; }

private:
    // Up to `count` bytes; fewer only at the end of the file. Throws when the file cannot be read.
    std::size_t read_up_to(std::uint8_t* into, std::size_t count);
    HistoryDamage damage(const std::string& why) const;

    std::FILE* file_ = nullptr;
    std::string path_;
    std::size_t valid_bytes_ = 0;
    bool torn_ = false;
};

struct RecordHistory {
    std::vector<std::vector<std::uint8_t>> records;
    std::size_t valid_bytes = 0;  // the length of the file up to its last whole record
    bool torn_tail = false;       // bytes after the last whole record were left out
};

// Reads every whole record of a history file into memory, for short histories; throws
// HistoryDamage as the reader does, and std::runtime_error when it cannot be read.
SMD_HOST_API RecordHistory read_record_history(const std::string& path);

// CRC-32 (IEEE 802.3) of a byte buffer.
SMD_HOST_API std::uint32_t crc32(const std::uint8_t* bytes, std::size_t length);
