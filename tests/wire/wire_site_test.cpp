#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include <json/reader.h>

#include "host_runtime/plugin_library.h"
#include "host_runtime/record_history.h"
#include "linked_device.h"
#include "null_modem.h"
#include "site_run.h"
#include "temp_work_dir.h"

namespace {

SiteUnit site_unit(int line, int unit, unsigned int data_id) {
    SiteUnit u;
    u.unit = unit;
    u.data_id = data_id;
    u.interval_seconds = 0;
    u.history_path = "h" + std::to_string(data_id) + ".bin";
    u.name = "line " + std::to_string(line) + " unit " + std::to_string(unit) + " (data id " +
             std::to_string(data_id) + ")";
    return u;
}

RunnerOptions site_options(int rounds) {
    RunnerOptions options;
    options.rounds = rounds;
    options.trace_path = "site.jsonl";
    options.trace_frames_path = "frames.txt";
    return options;
}

std::string file_text(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Every unit of a site polled through the loaded plug-in, several to a line, lines in parallel:
// each unit's records hold its own image, each published record is stored once in its own
// history, and every trace line names its unit. A dead unit fails its own rounds only.
TEST(WireSite, EveryUnitOfEveryLineGetsItsOwnRecords) {
    TempWorkDir work;
    PluginLibrary plugin(PX46TR_K_PLUGIN_PATH);
    // Two TCP lines of four units and a serial line of three, each unit with an image of its
    // own (the salt), unit 2 of the serial line dead.
    constexpr int kDead = -1;
    const std::vector<std::vector<std::pair<int, int>>> served = {{{1, 11}, {2, 12}, {3, 13}, {4, 14}},
                                                                  {{1, 21}, {2, 22}, {3, 23}, {4, 24}},
                                                                  {{1, 31}, {2, kDead}, {3, 33}}};
    NullModem modem;
    std::vector<std::unique_ptr<unit_sim::UnitServer>> servers;
    std::map<unsigned int, int> salt_of;  // by data id
    Site site;
    for (std::size_t l = 0; l < served.size(); ++l) {
        const bool rtu = l == 2;
        unit_sim::ServerOptions options;
        options.endpoint = rtu ? parse_rtu_endpoint(modem.device_a() + ":9600:N") : tcp_endpoint(0);
        for (const auto& [unit, salt] : served[l]) {
            options.units[unit].image = distinct_image(salt == kDead ? 0 : salt);
            options.units[unit].dead = salt == kDead;
        }
        servers.push_back(std::make_unique<unit_sim::UnitServer>(options));
        servers.back()->start();
        SiteLine line;
        line.link.unit =
            rtu ? "rtu:" + modem.device_b() : "tcp:127.0.0.1:" + std::to_string(servers.back()->port());
        line.link.timeout_seconds = 0.3;
        line.link.retries = 0;
        line.name = "line " + std::to_string(l + 1) + " (" + line.link.unit + ")";
        for (const auto& [unit, salt] : served[l]) {
            const auto data_id = static_cast<unsigned>(100 * (l + 1) + static_cast<std::size_t>(unit));
            line.units.push_back(site_unit(static_cast<int>(l + 1), unit, data_id));
            salt_of[data_id] = salt;
        }
        site.lines.push_back(line);
    }
    std::ostringstream messages;
    std::atomic<bool> stop{false};
    SiteStatus followed;
    followed.keep_snapshots();
    const int status = run_site(site_options(2), site, plugin, stop, messages, &followed);
    EXPECT_EQ(status, kNoRoundCompleted) << "the dead unit completed no round\n" << messages.str();

    // The records each unit published, as the trace names its unit.
    std::map<std::string, std::vector<std::vector<std::uint8_t>>> published;
    std::istringstream trace_lines(file_text("site.jsonl"));
    for (std::string text; std::getline(trace_lines, text);) {
        Json::Value line;
        std::istringstream in(text);
        ASSERT_TRUE(Json::parseFromStream(Json::CharReaderBuilder(), in, &line, nullptr)) << text;
        ASSERT_TRUE(line.isMember("unit")) << text;
        if (line["call"].asString() != "SendSP") continue;
        const std::string hex = line["args"][1].asString();
        std::vector<std::uint8_t> record;
        for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
            record.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
        }
        published[line["unit"].asString()].push_back(record);
    }
    const std::string frames = file_text("frames.txt");
    std::set<double> voltages;  // the line A voltage of every unit's kept snapshot
    std::size_t live_units = 0;
    for (const SiteLine& line : site.lines) {
        for (const SiteUnit& unit : line.units) {
            SCOPED_TRACE(unit.name);
            const int salt = salt_of.at(unit.data_id);
            const RecordHistory history = read_record_history(unit.history_path);
            // What a watcher of the site sees of the unit.
            const auto index = followed.unit_with_data_id(unit.data_id);
            ASSERT_TRUE(index.has_value());
            const UnitStatus seen = followed.unit(*index);
            EXPECT_EQ(followed.lines().at(seen.line).name, line.name);
            EXPECT_EQ(seen.unit, unit.unit);
            if (salt == kDead) {
                EXPECT_TRUE(history.records.empty());
                EXPECT_NE(messages.str().find(unit.name + ": 0 of 2 rounds completed"), std::string::npos);
                EXPECT_EQ(seen.state, RoundState::backing_off);
                EXPECT_EQ(seen.rounds_failed, 2u);
                EXPECT_EQ(seen.last_failure, LinkFailure::timeout);
                EXPECT_EQ(followed.snapshot_tree(*index), nullptr);
                continue;
            }
            EXPECT_EQ(seen.state, RoundState::completed);
            EXPECT_EQ(seen.rounds_completed, 2u);
            EXPECT_TRUE(seen.data_time.has_value());
            const auto tree = followed.snapshot_tree(*index);
            ASSERT_NE(tree, nullptr);
            ASSERT_TRUE((*tree)["A路进线-电压"].isNumeric());
            voltages.insert((*tree)["A路进线-电压"].asDouble());
            ++live_units;
            ASSERT_EQ(history.records.size(), 2u) << messages.str();
            for (const auto& record : history.records) {
                EXPECT_EQ(image_bytes(record), expected_image_bytes(distinct_image(salt)));
            }
            EXPECT_NE(messages.str().find(unit.name + ": 2 of 2 rounds completed"), std::string::npos)
                << messages.str();
            EXPECT_NE(messages.str().find(unit.name + ": round 2: 62 reads, record published"),
                      std::string::npos);
            EXPECT_EQ(published[unit.name], history.records) << "each published record stored once, in order";
            EXPECT_NE(frames.find(" unit " + std::to_string(unit.unit) + "  >  "), std::string::npos);
            EXPECT_NE(frames.find(unit.name + "  round 2 completed"), std::string::npos);
        }
    }
    EXPECT_EQ(voltages.size(), live_units) << "each unit's snapshot from its own device";
}

}  // namespace
