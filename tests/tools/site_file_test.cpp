#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <json/value.h>

#include "site_file.h"
#include "temp_work_dir.h"

namespace {

// The message read_site_file refuses `text` with, written as site.yaml; empty when it reads.
std::string refusal(const TempWorkDir& dir, const std::string& text) {
    dir.write("site.yaml", text);
    try {
        read_site_file("site.yaml");
    } catch (const InputFileError& e) {
        return e.what();
    }
    return "";
}

const std::string kTcpLine = "lines:\n  - link: tcp:127.0.0.1:1502\n";
const std::string kRtuLine = "lines:\n  - link: rtu:/dev/ttyUSB0:9600:8N1\n";
const std::string kOneUnit = "    units:\n      - unit: 1\n        data_id: 101\n";

TEST(SiteFileReader, RefusesNamingTheFileTheLineAndTheKey) {
    TempWorkDir dir;
    dir.write("comment.json", "{\"appSetting\": {} // a comment\n}");
    const struct {
        std::string text;
        std::string message;  // after "site file site.yaml, "
    } rows[] = {
        {"lines: [\n", "line 2: end of sequence flow not found"},
        {"- 1\n", "line 1: not a mapping of interval and lines"},
        {"interval: 1\n", "line 1: lines is missing"},
        {"lines: []\n", "line 1: lines must be a list of one line at least"},
        {"intervall: 2\n" + kTcpLine + kOneUnit, "line 1: unknown key 'intervall'; nearest: interval"},
        {"interval: 1\ninterval: 2\n" + kTcpLine + kOneUnit,
         "line 2: interval is given twice (first on line 1)"},
        {"interval: 1e308\n" + kTcpLine + kOneUnit, "line 1: interval must be from 0 to 86400 seconds"},
        {"interval: .nan\n" + kTcpLine + kOneUnit, "line 1: interval must be from 0 to 86400 seconds"},
        {"listn: 9146\n" + kTcpLine + kOneUnit, "line 1: unknown key 'listn'; nearest: listen"},
        {"listen: 65536\n" + kTcpLine + kOneUnit, "line 1: listen '65536': port '65536' is not a number"},
        {"listen: localhost:9146\n" + kTcpLine + kOneUnit,
         "line 1: listen 'localhost:9146': 'localhost' is not an IPv4 address"},
        {"listen: '[::1]:9146'\n" + kTcpLine + kOneUnit, "line 1: listen '[::1]:9146': IPv6 addresses"},
        {"listen: [9146]\n" + kTcpLine + kOneUnit, "line 1: listen must be [ADDR:]PORT"},
        {kTcpLine + "    timout: 2\n" + kOneUnit, "line 3: unknown key 'timout'; nearest: timeout"},
        {kTcpLine + "    timeout: 0\n" + kOneUnit, "line 3: timeout must be above 0 and at most 60"},
        {kTcpLine + "    timeout: soon\n" + kOneUnit, "line 3: timeout 'soon' is not a number"},
        {kTcpLine + "    retries: 11\n" + kOneUnit, "line 3: retries must be from 0 to 10"},
        {kTcpLine + "    retries: 1.5\n" + kOneUnit, "line 3: retries '1.5' is not a whole number"},
        {kTcpLine + "    busy-retries: -1\n" + kOneUnit, "line 3: busy-retries must be from 0 to 100"},
        {kTcpLine + "    busy-wait: 61\n" + kOneUnit, "line 3: busy-wait must be from 0 to 60"},
        {kTcpLine + "    pause: 10.5\n" + kOneUnit, "line 3: pause must be from 0 to 10"},
        {kTcpLine + "    pause-after-connect: [1]\n" + kOneUnit,
         "line 3: pause-after-connect must be a number of seconds"},
        {kTcpLine + "    close-after-round: maybe\n" + kOneUnit,
         "line 3: close-after-round must be true or false"},
        {kTcpLine + "    rs485: true\n" + kOneUnit, "line 3: rs485 applies to rtu: lines only"},
        {kRtuLine + "    rts: sideways\n" + kOneUnit, "line 3: rts must be up or down"},
        {kRtuLine + "    rts-delay: 10\n" + kOneUnit, "line 3: rts-delay goes with rts"},
        {kRtuLine + "    rts: up\n    rts-delay: 1000001\n" + kOneUnit,
         "line 4: rts-delay must be from 0 to 1000000"},
        {"lines:\n  - link: sim\n    timeout: 2\n" + kOneUnit, "line 3: timeout applies to a real line"},
        {"lines:\n  - link: sim\n    capture: c.pcap\n" + kOneUnit, "line 3: capture applies to a real line"},
        {kTcpLine + "    trace-frames: ''\n" + kOneUnit, "line 3: trace-frames names no file"},
        {"lines:\n  - link: tcp:10.0.0.7:70000\n" + kOneUnit,
         "line 2: link: port '70000' is not a number from 0 to 65535"},
        {"lines:\n  - link: rtu:/dev/ttyUSB0:9600:8X1\n" + kOneUnit, "line 2: link: parity 'X' in '8X1'"},
        {"lines:\n  - link: tcp:10.0.0.7:502:3\n" + kOneUnit, "line 2: link names a unit id"},
        {"lines:\n  - link: rtu:/dev/ttyUSB0:9600:E:3\n" + kOneUnit, "line 2: link names a unit id"},
        {"lines:\n  - units: []\n", "line 2: line 1 has no link"},
        {kTcpLine, "line 2: line 1 (tcp:127.0.0.1:1502) has no units"},
        {kTcpLine + "    units: {}\n", "line 3: units must be a list of one unit at least"},
        {kTcpLine + "    units:\n      - unit: 256\n        data_id: 1\n",
         "line 4: unit '256' is not a number from 0 to 255"},
        {kRtuLine + "    units:\n      - unit: 0\n        data_id: 1\n",
         "line 4: unit '0' is not a number from 1 to 247"},
        {kRtuLine + "    units:\n      - unit: 248\n        data_id: 1\n",
         "line 4: unit '248' is not a number from 1 to 247"},
        {kTcpLine + "    units:\n      - data_id: 1\n",
         "line 4: a unit of line 1 (tcp:127.0.0.1:1502) has no unit:"},
        {kTcpLine + "    units:\n      - unit: 1\n",
         "line 4: unit 1 of line 1 (tcp:127.0.0.1:1502) has no data_id"},
        {kTcpLine + "    units:\n      - unit: 1\n        data_id: 4294967296\n",
         "line 5: data_id '4294967296' is not a number from 0 to 4294967295"},
        {kTcpLine + "    units:\n      - unit: 1\n        data_id: -1\n",
         "line 5: data_id '-1' is not a number from 0 to 4294967295"},
        {kTcpLine + kOneUnit + "        data-id: 7\n", "line 6: unknown key 'data-id'; nearest: data_id"},
        {kTcpLine + kOneUnit + "        settings: none.json\n",
         "line 6: settings: cannot read settings file none.json: No such file or directory"},
        {kTcpLine + kOneUnit + "        settings: comment.json\n",
         "line 6: settings: settings file comment.json is not one JSON object: line 1, column 19: a comment"},
        {kTcpLine + kOneUnit + "        settings: [1, 2]\n",
         "line 6: settings must be a file name or a mapping"},
        {kTcpLine + kOneUnit + "        settings: {a: 1, a: 2}\n", "line 6: settings: a is given twice"},
        {kTcpLine + kOneUnit + "        history: ''\n", "line 6: history names no file"},
        {kTcpLine + kOneUnit + "        interval: -1\n", "line 6: interval must be from 0 to 86400 seconds"},
    };
    for (const auto& row : rows) {
        const std::string message = refusal(dir, row.text);
        EXPECT_EQ(message.rfind("site file site.yaml, ", 0), 0u) << row.text << "\n" << message;
        EXPECT_NE(message.find(row.message), std::string::npos) << row.text << "\n" << message;
    }
    // A file that cannot be read is named as the settings file is.
    try {
        read_site_file("none.yaml");
        ADD_FAILURE() << "a missing site file was read";
    } catch (const InputFileError& e) {
        EXPECT_STREQ(e.what(), "cannot read site file none.yaml: No such file or directory");
    }
}

TEST(SiteFileReader, ReadsEveryKeyOfAGoodSite) {
    TempWorkDir dir;
    dir.write("s102.json", "{\"appSetting\": {\"b_mode\": 3}}");
    dir.write("site.yaml",
              "interval: 2\n"
              "lines:\n"
              "  - link: tcp:127.0.0.1:1502\n"
              "    timeout: 0.5\n"
              "    retries: 3\n"
              "    pause: 0.1\n"
              "    busy-retries: 4\n"
              "    busy-wait: 0.25\n"
              "    pause-after-connect: 1\n"
              "    close-after-round: yes\n"
              "    trace-frames: f1.txt\n"
              "    capture: c1.pcap\n"
              "    units:\n"
              "      - unit: 0\n"
              "        data_id: 4294967295\n"
              "        settings: {appSetting: {b_mode: 5}, name: '007', on: true, ratio: 1.5, none: ~, list: "
              "[1, x]}\n"
              "        history: h101.bin\n"
              "      - unit: 2\n"
              "        data_id: 102\n"
              "        settings: s102.json\n"
              "        interval: 0\n"
              "  - link: rtu:/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0:19200:8E1\n"
              "    interval: 5\n"
              "    rs485: true\n"
              "    rts: down\n"
              "    rts-delay: 300\n"
              "    units:\n"
              "      - unit: 247\n"
              "        data_id: 0\n"
              "listen: 0.0.0.0:9146\n");
    const Site site = read_site_file("site.yaml");
    EXPECT_EQ(site.path, "site.yaml");
    EXPECT_EQ(site.interval_seconds, 2);
    ASSERT_TRUE(site.listen.has_value());
    EXPECT_EQ(site.listen->text(), "0.0.0.0:9146");
    ASSERT_EQ(site.lines.size(), 2u);

    const SiteLine& tcp = site.lines[0];
    EXPECT_EQ(tcp.name, "line 1 (tcp:127.0.0.1:1502)");
    EXPECT_EQ(tcp.source_line, 3);
    EXPECT_EQ(tcp.link.unit, "tcp:127.0.0.1:1502");
    EXPECT_EQ(tcp.link.timeout_seconds, 0.5);
    EXPECT_EQ(tcp.link.retries, 3);
    EXPECT_EQ(tcp.link.pause_seconds, 0.1);
    EXPECT_EQ(tcp.link.busy_retries, 4);
    EXPECT_EQ(tcp.link.busy_wait_seconds, 0.25);
    EXPECT_EQ(tcp.link.pause_after_connect_seconds, 1);
    EXPECT_TRUE(tcp.link.close_after_round);
    EXPECT_EQ(tcp.link.trace_frames_path, "f1.txt");
    EXPECT_EQ(tcp.link.capture_path, "c1.pcap");
    ASSERT_EQ(tcp.units.size(), 2u);
    const SiteUnit& first = tcp.units[0];
    EXPECT_EQ(first.unit, 0);
    EXPECT_EQ(first.data_id, 4294967295u);
    EXPECT_EQ(first.name, "line 1 unit 0 (data id 4294967295)");
    EXPECT_EQ(first.source_line, 14);
    EXPECT_EQ(first.history_path, "h101.bin");
    EXPECT_EQ(first.interval_seconds, 2) << "the site's interval when neither line nor unit names one";
    EXPECT_TRUE(first.settings_path.empty());
    Json::Value inline_settings(Json::objectValue);
    inline_settings["appSetting"]["b_mode"] = 5;
    inline_settings["name"] = "007";
    inline_settings["on"] = true;
    inline_settings["ratio"] = 1.5;
    inline_settings["none"] = Json::Value();
    inline_settings["list"].append(1);
    inline_settings["list"].append("x");
    EXPECT_EQ(first.settings, inline_settings) << first.settings.toStyledString();
    const SiteUnit& second = tcp.units[1];
    EXPECT_EQ(second.settings_path, "s102.json");
    EXPECT_EQ(second.settings["appSetting"]["b_mode"].asInt(), 3);
    EXPECT_EQ(second.interval_seconds, 0);
    EXPECT_TRUE(second.history_path.empty());

    const SiteLine& rtu = site.lines[1];
    EXPECT_EQ(rtu.link.unit, "rtu:/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0:19200:8E1");
    EXPECT_TRUE(rtu.link.rs485);
    EXPECT_EQ(rtu.link.rts, -1);
    EXPECT_EQ(rtu.link.rts_delay_us, 300);
    EXPECT_EQ(rtu.link.timeout_seconds, 1) << "the runner's default";
    EXPECT_FALSE(rtu.link.close_after_round);
    ASSERT_EQ(rtu.units.size(), 1u);
    EXPECT_EQ(rtu.units[0].unit, 247);
    EXPECT_EQ(rtu.units[0].data_id, 0u);
    EXPECT_EQ(rtu.units[0].interval_seconds, 5) << "the line's interval overrides the site's";
    EXPECT_EQ(rtu.units[0].settings, Json::Value(Json::objectValue));
    EXPECT_TRUE(site_problems(site).empty());
}

TEST(SiteProblems, EachConflictIsNamedAndNoneWhereThereIsNone) {
    TempWorkDir dir;
    dir.write("tty", "");
    dir.write("s.json", "{}");
    const auto unit = [](int id, int data_id, const std::string& more = "") {
        return "      - unit: " + std::to_string(id) + "\n        data_id: " + std::to_string(data_id) +
               "\n" + more;
    };
    const auto line = [](const std::string& link, const std::string& units, const std::string& more = "") {
        return "  - link: " + link + "\n" + more + "    units:\n" + units;
    };
    const struct {
        std::string lines;
        std::vector<std::string> problems;  // each expected among the problems, in order
        std::string trace;                  // --trace on the command line
    } rows[] = {
        {line("tcp:10.0.0.7:502", unit(1, 101) + unit(2, 102)) + line("tcp:10.0.0.7:502", unit(1, 103)),
         {},
         ""},
        {line("tcp:10.0.0.7:502", unit(1, 101) + unit(1, 102)),
         {"line 1 (tcp:10.0.0.7:502) names unit 1 twice (lines 4 and 6 of site.yaml)"},
         ""},
        {line("tcp:10.0.0.7:502", unit(1, 101)) + line("tcp:10.0.0.8:502", unit(1, 101)),
         {"data id 101 is given to line 1 unit 1 (data id 101) and line 2 unit 1 (data id 101)"},
         ""},
        {line("tcp:10.0.0.7:502",
              unit(1, 101, "        history: h.bin\n") + unit(2, 102, "        history: ./h.bin\n")),
         {"the history of line 1 unit 1 (data id 101) and the history of line 1 unit 2 (data id 102) name "
          "one file "
          "(./h.bin)"},
         ""},
        {line("tcp:10.0.0.7:502", unit(1, 101, "        history: h.bin\n"),
              "    trace-frames: sub/../h.bin\n"),
         {"the trace-frames of line 1 (tcp:10.0.0.7:502) and the history of line 1 unit 1 (data id 101) name "
          "one "
          "file"},
         ""},
        {line("tcp:10.0.0.7:502",
              unit(1, 101, "        history: s.json\n") + unit(2, 102, "        settings: s.json\n")),
         {"the history of line 1 unit 1 (data id 101) and the settings of line 1 unit 2 (data id 102) name "
          "one file"},
         ""},
        {line("tcp:10.0.0.7:502", unit(1, 101, "        history: t.jsonl\n")),
         {"--trace and the history of line 1 unit 1 (data id 101) name one file (t.jsonl)"},
         "./t.jsonl"},
        {line("rtu:tty", unit(1, 101)) + line("rtu:./tty:19200", unit(2, 102)),
         {"line 2 (rtu:./tty:19200) and line 1 (rtu:tty) name one serial device (./tty)"},
         ""},
        {line("rtu:absent", unit(1, 101)) + line("rtu:sub/../absent", unit(2, 102)),
         {"line 2 (rtu:sub/../absent) and line 1 (rtu:absent) name one serial device"},
         ""},
        {line("rtu:tty", unit(1, 101) + unit(1, 102)) + line("rtu:tty", unit(2, 101)),
         {"names unit 1 twice", "data id 101 is given to", "name one serial device"},
         ""},
    };
    for (const auto& row : rows) {
        dir.write("site.yaml", "lines:\n" + row.lines);
        const Site site = read_site_file("site.yaml");
        RunnerOptions command_line;
        command_line.trace_path = row.trace;
        const std::vector<std::string> found = site_problems(site, command_line);
        ASSERT_EQ(found.size(), row.problems.size()) << row.lines << (found.empty() ? "" : found.front());
        for (std::size_t i = 0; i < found.size(); ++i) {
            EXPECT_NE(found[i].find(row.problems[i]), std::string::npos) << row.lines << found[i];
        }
    }
}

}  // namespace
