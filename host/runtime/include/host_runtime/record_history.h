#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "host/host_api.h"

// The host's record history on disk: published records appended one after another, each framed
// as "PXRH", its length (u32, little-endian), the record bytes and a CRC-32 of them. A record is
// written whole and flushed to the disk before append returns, so a crash loses at most the
// record being written; such a torn last frame is recognised and left out when the file is read,
// and cut off when the file is opened for appending again.
class SMD_HOST_API RecordHistoryWriter {
public:
    // Opens `path` for appending, creating it; throws std::runtime_error when it cannot.
    explicit RecordHistoryWriter(const std::string& path);
    ~RecordHistoryWriter();
    RecordHistoryWriter(const RecordHistoryWriter&) = delete;
    RecordHistoryWriter& operator=(const RecordHistoryWriter&) = delete;

    // Appends one record; throws std::runtime_error when it cannot be written whole.
    void append(const std::uint8_t* bytes, std::size_t length);

private:
    int fd_ = -1;
    std::string path_;
};

// Reads the whole records of a history file one at a time, in order, holding only the current
// one: a month of site recording is scanned without reading it into memory.
class SMD_HOST_API RecordHistoryReader {
public:
    // Opens `path`; throws std::runtime_error when it cannot be read.
    explicit RecordHistoryReader(const std::string& path);
    ~RecordHistoryReader();
    RecordHistoryReader(const RecordHistoryReader&) = delete;
    RecordHistoryReader& operator=(const RecordHistoryReader&) = delete;

    // The next whole record into `record`; false after the last one.
    bool next(std::vector<std::uint8_t>& record);
    // The length of the file up to the last whole record read so far.
    std::size_t valid_bytes() const { return valid_bytes_; }
    // Once next() has returned false: whether bytes follow the last whole record (a torn frame).
    bool torn_tail() const;

private:
    std::FILE* file_ = nullptr;
    std::string path_;
    std::size_t valid_bytes_ = 0;
};

struct RecordHistory {
    std::vector<std::vector<std::uint8_t>> records;
    std::size_t valid_bytes = 0;  // the length of the file up to its last whole record
    bool torn_tail = false;       // bytes after the last whole record were left out
};

// Reads every whole record of a history file into memory, for short histories; throws
// std::runtime_error when it cannot be read.
SMD_HOST_API RecordHistory read_record_history(const std::string& path);

// CRC-32 (IEEE 802.3) of a byte buffer.
SMD_HOST_API std::uint32_t crc32(const std::uint8_t* bytes, std::size_t length);
