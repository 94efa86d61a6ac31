#pragma once

// What the fuzz targets share: reading choices out of the fuzzer's input, a quiet standard output,
// a scratch working directory and a check that stops the run.

#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include <json/reader.h>
#include <json/value.h>

// Reads the input front to back: small choices first, bytes after them. An exhausted input reads
// as zeros and empty byte runs, so every input is a valid run.
class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return at_ == size_; }
    std::size_t left() const { return size_ - at_; }

    std::uint8_t byte() { return empty() ? 0 : data_[at_++]; }
    std::uint16_t u16() {
        const std::uint16_t low = byte();
        return static_cast<std::uint16_t>(low | byte() << 8);
    }
    std::int32_t i32() {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(byte()) << (8 * i);
        return static_cast<std::int32_t>(v);
    }
    // One of `choices`, by the next byte.
    template <typename T, std::size_t N>
    T pick(const T (&choices)[N]) {
        return choices[byte() % N];
    }
    // Up to `n` bytes.
    std::vector<std::uint8_t> bytes(std::size_t n) {
        n = std::min(n, left());
        std::vector<std::uint8_t> out(data_ + at_, data_ + at_ + n);
        at_ += n;
        return out;
    }
    // A run whose length (0 to `max`) is the next byte or two.
    std::vector<std::uint8_t> sized_bytes(std::size_t max) {
        const std::size_t n = max < 256 ? byte() : u16();
        return bytes(std::min(n, max));
    }
    std::string text(std::size_t max) {
        const auto b = sized_bytes(max);
        return std::string(b.begin(), b.end());
    }
    std::vector<std::uint8_t> rest() { return bytes(left()); }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// A broken expectation is a finding: say which and abort, so that libFuzzer keeps the input.
#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (0)

// Makes a fresh directory the process's working directory (the device finds its configuration
// relative to it) and removes it when the process exits normally. It is made under $TMPDIR, else
// under /dev/shm where there is one: the history target flushes every record it appends, which a
// disk makes a hundred times slower. libFuzzer resolves its paths after this, so give the
// targets absolute corpus folders and an absolute -artifact_prefix (scripts/run-fuzzers.sh does).
inline const std::filesystem::path& enter_scratch_dir() {
    namespace fs = std::filesystem;
    // Never destroyed: the exit handler below runs after static objects are gone.
    static const fs::path* const dir = [] {
        const fs::path base = std::getenv("TMPDIR") != nullptr ? fs::temp_directory_path()
                              : fs::is_directory("/dev/shm")   ? fs::path("/dev/shm")
                                                               : fs::temp_directory_path();
        auto* path = new fs::path(base / ("px46-fuzz-" + std::to_string(::getpid())));
        fs::create_directories(*path);
        fs::current_path(*path);
        std::atexit([] {
            std::error_code ignored;
            fs::current_path(enter_scratch_dir().parent_path(), ignored);
            fs::remove_all(enter_scratch_dir(), ignored);
        });
        return path;
    }();
    return *dir;
}

// Each target is one program of one source file: its set-up is the same for all, an empty working
// directory of its own (no configuration file is found there unless the target writes one).
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    enter_scratch_dir();
    return 0;
}

// Writes `bytes` to `path` (relative to the working directory), replacing it.
inline void write_file(const std::filesystem::path& path, const void* bytes, std::size_t size) {
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(bytes), static_cast<std::streamsize>(size));
    if (!out) std::abort();
}

// --- The example configurations, for targets that drive a configured device ---------------------

// Installs the repository's example files where a px46tr_k device of any data identifier finds
// them (in the scratch directory, which must be the working directory) and returns the settings
// object of profile `b_mode`: 1 the unicom file with an analogue report setting and a threshold,
// 3 the mobile comparison rules, 5 the threshold groups, anything else that bare profile.
inline Json::Value example_settings(int b_mode) {
    namespace fs = std::filesystem;
    static const bool installed = [] {
        const fs::path examples = PX46_EXAMPLES_DIR;
        fs::create_directories("ini/unicom");
        fs::create_directories("ini/mobile");
        fs::copy_file(examples / "unicom.yaml", "ini/unicom/px46tr_k.yaml",
                      fs::copy_options::overwrite_existing);
        fs::copy_file(examples / "mobile.ini", "ini/mobile/px46tr_k.ini",
                      fs::copy_options::overwrite_existing);
        return true;
    }();
    (void)installed;
    auto read_json = [](const char* name) {
        std::ifstream in(std::filesystem::path(PX46_EXAMPLES_DIR) / name);
        Json::Value value;
        if (!Json::Reader().parse(in, value)) std::abort();
        return value;
    };
    Json::Value settings(Json::objectValue);
    if (b_mode == 3) settings = read_json("mobile_settings.json");
    if (b_mode == 5) settings = read_json("threshold_groups_settings.json");
    if (b_mode == 1) {
        // The template of the A line voltage's identifier 0406101001, and the voltage's own.
        Json::Value& report = settings["aoReportSetting"]["0406101011"];
        report["absBand"] = 5;
        report["pctBand"] = 10;
        report["periodMinutes"] = 15;
        settings["thresholdSetting"]["0406101011"]["Threshold"] = 250;
        settings["thresholdSetting"]["0406101011"]["AlarmLevel"] = 2;
    }
    settings["appSetting"]["b_mode"] = b_mode;
    return settings;
}
