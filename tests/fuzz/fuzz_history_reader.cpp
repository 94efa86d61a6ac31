// A history file of arbitrary bytes: read as the runner's --replay reads it, dumped as --dump
// dumps it (through the plug-in), and opened for appending, which cuts a torn tail before the next
// record. A file that is no history, or is damaged before its last frame, is refused by all three
// and left exactly as it was.
//
// Input: the file's bytes.

#include <dlfcn.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <stdexcept>
#include <vector>

#include "commissioning_commands.h"
#include "fuzz_support.h"
#include "host_runtime/record_history.h"
#include "runner_options.h"

namespace {

constexpr std::size_t kFrameOverhead = 12;  // magic, length, CRC-32

std::size_t framed_size(const RecordHistory& history) {
    std::size_t total = 0;
    for (const auto& record : history.records) total += kFrameOverhead + record.size();
    return total;
}

std::vector<std::uint8_t> read_file(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The dump loads the plug-in and unloads it again; libFuzzer reads the coverage counters of
    // every module it has seen after each input, so the plug-in is kept mapped for the whole run.
    static void* const kept_plugin = dlopen(PX46TR_K_PLUGIN_PATH, RTLD_NOW | RTLD_NODELETE);
    FUZZ_CHECK(kept_plugin != nullptr);

    const char* const path = "history";
    write_file(path, data, size);

    RecordHistory history;
    try {
        history = read_record_history(path);
    } catch (const HistoryDamage&) {
        RunnerOptions options;
        options.dump_path = path;
        options.plugin_path = PX46TR_K_PLUGIN_PATH;
        bool dumped = true;
        try {
            std::ostream discarded(nullptr);
            dump_record(options, discarded);
        } catch (const HistoryDamage&) {
            dumped = false;
        }
        FUZZ_CHECK(!dumped);
        bool opened = true;
        try {
            RecordHistoryWriter writer(path);
        } catch (const HistoryDamage&) {
            opened = false;
        }
        FUZZ_CHECK(!opened);
        FUZZ_CHECK(read_file(path) == std::vector<std::uint8_t>(data, data + size));
        return 0;
    }
    FUZZ_CHECK(history.valid_bytes == framed_size(history));
    FUZZ_CHECK(history.valid_bytes <= size);
    FUZZ_CHECK(history.torn_tail == (history.valid_bytes != size));

    RunnerOptions options;
    options.dump_path = path;
    options.plugin_path = PX46TR_K_PLUGIN_PATH;
    try {
        std::ostream discarded(nullptr);  // the dump's text is not what is checked here
        dump_record(options, discarded);
        FUZZ_CHECK(!history.records.empty());
    } catch (const std::runtime_error&) {
        // No whole record, or the last one is not a device record (the plug-in refuses it).
        FUZZ_CHECK(history.records.empty() || history.records.back().size() != 3921);
    }

    // Appending after whatever the file holds keeps its whole records and adds the new one.
    const std::vector<std::uint8_t> appended(3921, 0x5a);
    {
        RecordHistoryWriter writer(path);
        writer.append(appended.data(), appended.size());
    }
    const RecordHistory grown = read_record_history(path);
    FUZZ_CHECK(!grown.torn_tail);
    FUZZ_CHECK(grown.records.size() == history.records.size() + 1);
    FUZZ_CHECK(std::equal(history.records.begin(), history.records.end(), grown.records.begin()));
    FUZZ_CHECK(grown.records.back() == appended);
    FUZZ_CHECK(std::filesystem::file_size(path) == history.valid_bytes + kFrameOverhead + appended.size());
    return 0;
}
