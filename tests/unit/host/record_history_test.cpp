#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "host_runtime/record_history.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> record_of(std::uint8_t seed) {
    std::vector<std::uint8_t> record(3921);
    for (std::size_t i = 0; i < record.size(); ++i) record[i] = static_cast<std::uint8_t>(seed + i * 31);
    return record;
}

class RecordHistoryFile : public testing::Test {
protected:
    void SetUp() override {
        path_ = (fs::temp_directory_path() / ("px46-history-" + std::to_string(::getpid()) + "-" +
                                              testing::UnitTest::GetInstance()->current_test_info()->name()))
                    .string();
        fs::remove(path_);
    }
    void TearDown() override { fs::remove(path_); }
    void write_records(std::initializer_list<std::uint8_t> seeds) {
        RecordHistoryWriter writer(path_);
        for (auto seed : seeds) {
            const auto record = record_of(seed);
            writer.append(record.data(), record.size());
        }
    }
    std::string path_;
};

TEST_F(RecordHistoryFile, RecordsComeBackInOrder) {
    write_records({1, 2});
    write_records({3});  // a later run appends
    const RecordHistory history = read_record_history(path_);
    ASSERT_EQ(history.records.size(), 3u);
    EXPECT_EQ(history.records[0], record_of(1));
    EXPECT_EQ(history.records[2], record_of(3));
    EXPECT_FALSE(history.torn_tail);
}

TEST_F(RecordHistoryFile, TornLastRecordIsLeftOutAndCutBeforeAppending) {
    write_records({1, 2});
    const auto whole = fs::file_size(path_);
    fs::resize_file(path_, whole - 100);  // a crash in the middle of the second record
    RecordHistory history = read_record_history(path_);
    ASSERT_EQ(history.records.size(), 1u);
    EXPECT_EQ(history.records[0], record_of(1));
    EXPECT_TRUE(history.torn_tail);

    write_records({7});
    history = read_record_history(path_);
    ASSERT_EQ(history.records.size(), 2u);
    EXPECT_EQ(history.records[1], record_of(7));
    EXPECT_FALSE(history.torn_tail);
}

TEST_F(RecordHistoryFile, DamagedRecordEndsWhatIsRead) {
    write_records({1, 2, 3});
    {
        std::fstream file(path_, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(8 + 3921 + 4 + 8 + 100);  // a byte inside the second record
        file.put('\x5a');
    }
    const RecordHistory history = read_record_history(path_);
    ASSERT_EQ(history.records.size(), 1u) << "a record whose check fails is not trusted";
    EXPECT_TRUE(history.torn_tail);
}

// A file of two records, "123456789" and seven bytes of every kind, as the history has always
// been written: magic, length and CRC-32 of each frame.
const std::vector<std::uint8_t> kStoredHistory = {0x50, 0x58, 0x52, 0x48, 0x09, 0x00, 0x00, 0x00, 0x31, 0x32,
                                                  0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x26, 0x39, 0xf4,
                                                  0xcb, 0x50, 0x58, 0x52, 0x48, 0x07, 0x00, 0x00, 0x00, 0x00,
                                                  0xff, 0x10, 0x80, 0x7f, 0x5a, 0xa5, 0xdf, 0x98, 0x54, 0x4d};
const std::vector<std::uint8_t> kStoredRecords[] = {{'1', '2', '3', '4', '5', '6', '7', '8', '9'},
                                                    {0x00, 0xff, 0x10, 0x80, 0x7f, 0x5a, 0xa5}};

TEST_F(RecordHistoryFile, StoredFileFormatIsKept) {
    {
        RecordHistoryWriter writer(path_);
        for (const auto& record : kStoredRecords) writer.append(record.data(), record.size());
    }
    std::ifstream written(path_, std::ios::binary);
    EXPECT_EQ(std::vector<std::uint8_t>(std::istreambuf_iterator<char>(written), {}), kStoredHistory);

    auto stored = kStoredHistory;
    const auto read_back = [&] {
        std::ofstream(path_, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(stored.data()), static_cast<std::streamsize>(stored.size()));
        return read_record_history(path_);
    };
    RecordHistory history = read_back();
    ASSERT_EQ(history.records.size(), 2u);
    EXPECT_EQ(history.records[0], kStoredRecords[0]);
    EXPECT_EQ(history.records[1], kStoredRecords[1]);
    EXPECT_FALSE(history.torn_tail);

    stored[31] ^= 0x01;  // a byte of the second record
    history = read_back();
    ASSERT_EQ(history.records.size(), 1u) << "the check of the second record must fail";
    EXPECT_TRUE(history.torn_tail);
}

TEST_F(RecordHistoryFile, EmptyAndMissingFiles) {
    EXPECT_THROW(read_record_history(path_), std::runtime_error);
    write_records({});
    const RecordHistory history = read_record_history(path_);
    EXPECT_TRUE(history.records.empty());
    EXPECT_FALSE(history.torn_tail);
}

TEST(Crc32, KnownVector) {
    const std::string text = "123456789";
    EXPECT_EQ(crc32(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), 0xcbf43926u);
}

}  // namespace
