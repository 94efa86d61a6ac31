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

TEST_F(RecordHistoryFile, DamagedRecordBeforeTheLastIsRefusedAndTheFileKept) {
    write_records({1, 2, 3});
    {
        std::fstream file(path_, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(8 + 3921 + 4 + 8 + 100);  // a byte inside the second record
        file.put('\x5a');
    }
    const auto size = fs::file_size(path_);
    EXPECT_THROW(read_record_history(path_), HistoryDamage) << "a record whose check fails is not trusted";
    try {
        RecordHistoryWriter writer(path_);
        ADD_FAILURE() << "appended to";
    } catch (const HistoryDamage& e) {
        EXPECT_NE(std::string(e.what()).find("the record at byte 3933 is damaged"), std::string::npos)
            << e.what();
    }
    EXPECT_EQ(fs::file_size(path_), size) << "the third record is not cut off";
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

// What a file holds when it is opened for reading and appending: whole records, a torn last frame
// a crash left (cut before appending), or bytes no crash leaves (refused, the file left alone).
TEST_F(RecordHistoryFile, TornTailIsCutAndAnythingElseIsRefused) {
    const auto bytes = [](const std::string& text) {
        return std::vector<std::uint8_t>(text.begin(), text.end());
    };
    const auto with = [](std::size_t at, std::uint8_t value) {
        auto stored = kStoredHistory;
        stored[at] = value;
        return stored;
    };
    const auto joined = [](std::vector<std::uint8_t> a, const std::vector<std::uint8_t>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const std::vector<std::uint8_t> first_frame(kStoredHistory.begin(), kStoredHistory.begin() + 21);
    struct Case {
        const char* what;
        std::vector<std::uint8_t> file;
        std::size_t records;  // whole records read
        std::size_t cut;      // bytes of a torn last frame
        const char* refusal;  // empty: read and appended to
    };
    const Case cases[] = {
        {"two whole records", kStoredHistory, 2, 0, ""},
        {"the first bytes of the magic", bytes("PX"), 0, 2, ""},
        {"a header without its record", joined(first_frame, {'P', 'X', 'R', 'H', 7, 0, 0, 0}), 1, 8, ""},
        {"a record cut short", std::vector<std::uint8_t>(kStoredHistory.begin(), kStoredHistory.end() - 3), 1,
         16, ""},
        {"a last record whose check fails", with(31, 0x01), 1, 19, ""},
        {"a settings file", bytes("{\"appSetting\": {\"b_mode\": 3}}\n"), 0, 0,
         " is not a history file: it does not start with \"PXRH\""},
        {"a CSV export", bytes("\xEF\xBB\xBFtime,x\n2026-12-08T15:43:51,1\n"), 0, 0,
         " is not a history file"},
        {"a first record whose check fails, then another", with(10, 0x00), 0, 0,
         ": the record at byte 0 is damaged (its check fails)"},
        {"a damaged record before the last", joined(with(31, 0x01), first_frame), 1, 0,
         ": the record at byte 21 is damaged (its check fails)"},
        {"no frame between two records", joined(joined(first_frame, bytes("xxxxxxxxxxxx")), first_frame), 1,
         0, ": the record at byte 21 is damaged (no frame starts there)"},
        {"a length no record has", with(28, 0x7f), 1, 0,
         ": the record at byte 21 is damaged (its length 2130706439 is more than a record may have)"},
    };
    const std::vector<std::uint8_t> added{0xA5, 0x5A};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::ofstream(path_, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(c.file.data()), static_cast<std::streamsize>(c.file.size()));
        if (*c.refusal != '\0') {
            try {
                read_record_history(path_);
                ADD_FAILURE() << "read";
            } catch (const HistoryDamage& e) {
                EXPECT_NE(std::string(e.what()).find(path_ + c.refusal), std::string::npos) << e.what();
            }
            EXPECT_THROW(RecordHistoryWriter writer(path_), HistoryDamage);
            std::ifstream left(path_, std::ios::binary);
            EXPECT_EQ(std::vector<std::uint8_t>(std::istreambuf_iterator<char>(left), {}), c.file)
                << "a refused file is left as it was";
            continue;
        }
        const RecordHistory history = read_record_history(path_);
        EXPECT_EQ(history.records.size(), c.records);
        EXPECT_EQ(history.torn_tail, c.cut > 0);
        RecordHistoryWriter writer(path_);
        EXPECT_EQ(writer.cut_bytes(), c.cut);
        writer.append(added.data(), added.size());
        const RecordHistory grown = read_record_history(path_);
        ASSERT_EQ(grown.records.size(), c.records + 1);
        EXPECT_EQ(grown.records.back(), added);
        EXPECT_FALSE(grown.torn_tail);
    }
}

TEST_F(RecordHistoryFile, EmptyMissingAndUnreadableFiles) {
    const auto refusal = [](const std::string& path) {
        try {
            read_record_history(path);
        } catch (const std::runtime_error& e) {
            return std::string(e.what());
        }
        return std::string("read");
    };
    EXPECT_EQ(refusal(path_), "cannot read history " + path_ + ": No such file or directory");
    fs::create_directory(path_);
    EXPECT_EQ(refusal(path_), "cannot read history " + path_ + ": Is a directory");
    EXPECT_THROW(RecordHistoryWriter writer(path_), std::runtime_error);
    fs::remove(path_);
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
