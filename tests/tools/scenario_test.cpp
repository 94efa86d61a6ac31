#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "catalogue/record_fields.h"
#include "catalogue/register_map.h"
#include "catalogue/signal_catalogue.h"
#include "host_runtime/modbus_endpoint.h"
#include "runner_options.h"
#include "unit_link.h"
#include "unit_sim/drift.h"
#include "unit_sim/scenario.h"
#include "user_input/id_list.h"

namespace {

using namespace px46tr_k;
using unit_sim::RegisterImage;
using unit_sim::scenario_image;
using unit_sim::ScenarioError;

// The record a polling round would build from the image: each read of the map copied in turn.
std::vector<std::uint8_t> record_of(const RegisterImage& image) {
    std::vector<std::uint8_t> record(kRecordSize, 0);
    for (const auto& row : kRegisterMap) {
        for (int r = 0; r < row.count; ++r)
            write_u16(&record[row.record_offset + 2 * r], image.get(row.first_register + r));
    }
    return record;
}

const SignalInfo& signal(const std::string& name) {
    for (const auto& s : snapshot_signals()) {
        if (s.name == name) return s;
    }
    throw std::out_of_range(name);
}

// The snapshot value the driver reads for a signal: a number, or its status word.
Json::Value decoded(const std::vector<std::uint8_t>& record, const SignalInfo& s) {
    const std::int64_t raw = s.source.raw(record.data());
    return s.coding == Coding::number ? Json::Value(static_cast<double>(s.number(raw)))
                                      : Json::Value(s.word(raw));
}

Json::Value with_signal(const std::string& name, const Json::Value& value) {
    Json::Value scenario;
    scenario["signals"][name] = value;
    return scenario;
}

// The units a line's default scenarios are checked for: the reference, its neighbours, the last.
const int kDefaultUnits[] = {1, 2, 8, 9, 247};

TEST(ScenarioEncoding, DefaultScenarioReadsBackAsItsEngineeringValues) {
    for (const int unit : kDefaultUnits) {
        const Json::Value scenario = unit_sim::default_scenario(unit);
        const auto record = record_of(scenario_image(scenario));
        const Json::Value& signals = scenario["signals"];
        ASSERT_GT(signals.size(), 800u);
        for (const auto& name : signals.getMemberNames()) {
            const Json::Value& want = signals[name];
            const Json::Value got = decoded(record, signal(name));
            if (want.isNumeric()) {
                // Exact but for the two successive single-precision divisions of a line's energy.
                EXPECT_FLOAT_EQ(got.asFloat(), want.asFloat()) << "unit " << unit << " " << name;
            } else if (want.isBool()) {
                EXPECT_EQ(got.asString(), want.asBool() ? kAlarm : kNormal) << "unit " << unit << " " << name;
            } else {
                EXPECT_EQ(got.asString(), want.asString()) << "unit " << unit << " " << name;
            }
        }
    }
}

TEST(ScenarioEncoding, DefaultScenarioIsALiveUnitWithoutFaultAlarms) {
    for (const int unit : kDefaultUnits) {
        SCOPED_TRACE("unit " + std::to_string(unit));
        const RegisterImage image = scenario_image(unit_sim::default_scenario(unit));
        const auto record = record_of(image);
        PX46TR_K_Data_t data;
        std::memcpy(&data, record.data(), sizeof data);
        std::vector<std::string> active;
        for (const auto& alarm : reportable_alarms()) {
            if (alarm_active(alarm, data)) active.push_back(alarm.name);
        }
        // The opened switches show in their opened flags as well as in their states.
        EXPECT_EQ(active, (std::vector<std::string>{"出线支路07开关分闸", "出线支路45开关分闸",
                                                    "出线支路98开关分闸"}));
        EXPECT_NEAR(decoded(record, signal("A路进线-电压")).asDouble(), 230, 2);
        EXPECT_NEAR(decoded(record, signal("B路进线-电压")).asDouble(), 230, 2);
        EXPECT_NEAR(decoded(record, signal("环境温度")).asDouble(), 27, 5);
        int loaded = 0, opened = 0;
        for (int n = 1; n <= kFeederCount; ++n) {
            loaded += decoded(record, signal(feeder_name(n) + "电流")).asDouble() > 0;
            opened +=
                decoded(record, signal(compose_name(kFeederSwitchStateFormat, "", n))).asString() == kOpened;
        }
        EXPECT_GT(loaded, 100);
        EXPECT_EQ(opened, 3);
    }
}

// The units of one line tell themselves apart by what they hold: every pair of units differs in
// its serial number and its measurements, and a unit holds the same at every call.
TEST(ScenarioEncoding, DefaultScenariosDifferFromUnitToUnitAndNotFromCallToCall) {
    EXPECT_EQ(unit_sim::default_scenario(), unit_sim::default_scenario(1));
    const auto registers = [](int unit) {
        return scenario_image(unit_sim::default_scenario(unit)).registers();
    };
    for (const int unit : kDefaultUnits) EXPECT_EQ(registers(unit), registers(unit)) << unit;
    const char* telling[] = {"系统序列号2", "A路进线-电压", "B路路进线-电流", "出线支路01电流",
                             "出线支路01有功电能"};
    for (int a = 1; a <= 8; ++a) {
        for (int b = a + 1; b <= 8; ++b) {
            const auto first = record_of(scenario_image(unit_sim::default_scenario(a)));
            const auto second = record_of(scenario_image(unit_sim::default_scenario(b)));
            int differing = 0;
            for (const char* name : telling)
                differing += decoded(first, signal(name)) != decoded(second, signal(name));
            EXPECT_GE(differing, 3) << "units " << a << " and " << b;
        }
    }
}

TEST(ScenarioEncoding, ValuesLandInTheUnitsRegistersWithItsScaling) {
    Json::Value s;
    s["signals"]["A路进线-电压"] = 229.87;        // registers 4, 5: 22987
    s["signals"]["B路进线-有功电能"] = 123.4567;  // registers 24, 25: / 10 then / 1000
    s["signals"]["出线支路144电流"] = -1.0;       // group 47, third feeder's current
    s["signals"]["环境温度"] = 6552.6;            // unsigned 16-bit: 65526
    s["signals"]["出线支路05开关状态"] = "分闸";
    s["signals"]["B路进线防雷器状态"] = 2;
    s["signals"]["出线支路61电流越上线"] = "告警";  // flag 204
    s["alarms"] = Json::Value(Json::arrayValue);
    s["alarms"].append("系统总告警状态");
    s["alarms"].append("出线支路144开关分闸");
    s["alarms"].append("进线总开关开关告警");
    const RegisterImage image = scenario_image(s);
    EXPECT_EQ(image.get_s32(4), 22987);
    EXPECT_EQ(image.get_s32(24), 1234567);
    EXPECT_EQ(image.get(1724 + 10), 0xffff);
    EXPECT_EQ(image.get(1724 + 11), 0xff9c);
    EXPECT_EQ(image.get(4247), 65526);
    EXPECT_EQ(image.get(4107), 3);
    EXPECT_EQ(image.get(4102), 2);
    EXPECT_EQ(image.get(7424 + 204 / 16), 1u << (204 % 16));
    EXPECT_EQ(image.get(4098), 1);
    EXPECT_EQ(image.get(7464), 0x8000);
    EXPECT_EQ(image.get(7455), 1);
}

TEST(ScenarioEncoding, LaterMembersWinAndFlagsClear) {
    Json::Value s;
    s["registers"]["7433"] = 0xffff;
    s["registers"]["0x0004"] = 7;
    s["signals"]["A路进线-电压"] = 1.5;
    s["alarms"]["出线支路01电流越上线"] = false;  // flag 144: register 7433 bit 0
    const RegisterImage image = scenario_image(s);
    EXPECT_EQ(image.get(7433), 0xfffe);
    EXPECT_EQ(image.get_s32(4), 150);
}

TEST(ScenarioEncoding, RefusesWhatTheUnitCannotHold) {
    const auto refused = [](const Json::Value& s, const std::string& message = std::string()) {
        try {
            scenario_image(s);
            ADD_FAILURE() << "accepted: " << s.toStyledString();
        } catch (const ScenarioError& e) {
            EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
        }
    };
    // Misspelt names get the nearest names.
    refused(with_signal("A路进线-电压x", 1), "no such signal; nearest: A路进线-电压");
    refused(with_signal("A路进线-电压", "high"));      // a number is needed
    refused(with_signal("A路进线-电压", 3e7));         // past a signed 32-bit field
    refused(with_signal("环境湿度", -0.1));            // unsigned register
    refused(with_signal("出线支路01开关状态", "开"));  // not a status word of its coding
    refused(with_signal("进线防雷器失效告警", true));  // no register holds it
    refused(with_signal("更新时间", "2026-01-01"));    // the poller's stamp
    Json::Value alarm;
    alarm["alarms"].append("出线支路01电流越上限");
    refused(alarm, "no such alarm; nearest: 出线支路01电流越上线");
    Json::Value unknown;
    unknown["signal"] = Json::objectValue;
    refused(unknown);
}

// Register numbers and values at their limits and one past: the runner's --set and --write take
// any Modbus register and 16-bit value, a scenario's registers only the unit's 0 to 7465.
TEST(NumberLimits, RegistersAndValuesUpToTheirLimits) {
    struct Case {
        const char* where;  // --set, --write, --data-id (its value alone) or scenario
        const char* text;   // REG=VALUE; in a scenario the value is a JSON integer
        bool accepted;
        int reg;
        long value;
    } const cases[] = {
        {"--set", "65535=65535", true, 65535, 65535},
        {"--set", "0xFFFF=0xffff", true, 65535, 65535},
        {"--set", "65536=1", false, 0, 0},
        {"--set", "1=65536", false, 0, 0},
        {"--set", "1=0x10000", false, 0, 0},
        {"--write", "0xFFFF=65535", true, 65535, 65535},
        {"--write", "0x10000=1", false, 0, 0},
        {"--write", "1=65536", false, 0, 0},
        {"--data-id", "4294967295", true, 0, 4294967295L},
        {"--data-id", "4294967296", false, 0, 0},
        {"--data-id", "-1", false, 0, 0},
        {"scenario", "7465=65535", true, 7465, 65535},
        {"scenario", "0x1D29=1", true, 7465, 1},
        {"scenario", "7466=1", false, 0, 0},
        {"scenario", "0x1D2A=1", false, 0, 0},
        {"scenario", "4=65536", false, 0, 0},
        {"scenario", "4=-1", false, 0, 0},
    };
    for (const auto& c : cases) {
        const std::string where = c.where;
        const std::string text = c.text;
        // The register and the value taken; none when refused.
        std::optional<std::vector<long>> got;
        try {
            if (where == "scenario") {
                const auto eq = text.find('=');
                Json::Value s;
                s["registers"][text.substr(0, eq)] = Json::Int64{std::stoll(text.substr(eq + 1), nullptr, 0)};
                got = std::vector<long>{c.reg, scenario_image(s).get(c.reg)};
            } else {
                const char* argv[] = {"smd-host", c.where, c.text};
                RunnerOptions options;
                std::string help;
                parse_runner_options(3, argv, options, help);
                if (where == "--set")
                    got = std::vector<long>{options.registers.at(0).first, options.registers.at(0).second};
                else if (where == "--data-id")
                    got = std::vector<long>{0, static_cast<long>(options.data_id)};
                else
                    got = std::vector<long>(options.write.begin(), options.write.end());
            }
        } catch (const UsageError&) {
        } catch (const ScenarioError&) {
        }
        const auto want = c.accepted ? std::optional(std::vector<long>{c.reg, c.value}) : std::nullopt;
        EXPECT_EQ(got, want) << where << " " << text;
    }
}

// The simulator's --units: ids and ranges, in order, each once; the refusal names the part.
TEST(UnitIdLists, ReadRangesAndNameThePartAtFault) {
    const struct {
        const char* text;
        const char* read;  // the ids as id_list_text writes them, or a part of the refusal
        bool accepted;
    } cases[] = {
        {"1-8", "1-8", true},
        {"1,3,5-7", "1,3,5-7", true},
        {"7,5-6,1", "1,5-7", true},
        {"4", "4", true},
        {"1,2", "1,2", true},
        {"247", "247", true},
        {"0", "'0' is not an id from 1 to 247", false},
        {"248", "'248' is not an id from 1 to 247", false},
        {"1,,2", "'' is not an id", false},
        {"1,", "'' is not an id", false},
        {"", "'' is not an id", false},
        {"3-1", "'3-1' runs backwards", false},
        {"1-3,2", "id 2 is given twice", false},
        {"1-", "'' is not an id", false},
        {" 1", "' 1' is not an id", false},
    };
    for (const auto& c : cases) {
        try {
            const std::string read = id_list_text(parse_id_list(c.text, 1, 247));
            EXPECT_TRUE(c.accepted && read == c.read) << "'" << c.text << "' read as " << read;
        } catch (const std::invalid_argument& e) {
            EXPECT_FALSE(c.accepted) << "'" << c.text << "': " << e.what();
            EXPECT_NE(std::string(e.what()).find(c.read), std::string::npos)
                << "'" << c.text << "': " << e.what();
        }
    }
}

TEST(UnitMap, AnswersOnlyTheRegistersOfTheMap) {
    EXPECT_TRUE(RegisterImage::in_map(0, 125));
    EXPECT_TRUE(RegisterImage::in_map(1700, 60));   // up to 1759
    EXPECT_FALSE(RegisterImage::in_map(1700, 61));  // 1760 is not the unit's
    EXPECT_FALSE(RegisterImage::in_map(2000, 1));
    EXPECT_TRUE(RegisterImage::in_map(4096, 153));  // to 4248
    EXPECT_FALSE(RegisterImage::in_map(4096, 154));
    EXPECT_FALSE(RegisterImage::in_map(4095, 2));
    EXPECT_TRUE(RegisterImage::in_map(7424, 42));  // to 7465
    EXPECT_FALSE(RegisterImage::in_map(7465, 2));
    EXPECT_FALSE(RegisterImage::in_map(7466, 1));
    EXPECT_FALSE(RegisterImage::in_map(10, 0));
}

TEST(UnitDrift, MeasurementsWobbleNearBaseAndEnergiesCountUp) {
    const RegisterImage base = scenario_image(unit_sim::default_scenario());
    std::vector<std::uint16_t> registers = base.registers();
    unit_sim::Drift drift(base);
    const int voltage_a = signal("A路进线-电压").source.first_register;
    const int energy_a = signal("A路进线-有功电能").source.first_register;
    const int energy_7 = signal("出线支路07有功电能").source.first_register;
    const int current_7 = signal("出线支路07电流").source.first_register;  // opened: 0 A
    const auto s32 = [&](int reg) {
        return static_cast<std::int32_t>((static_cast<std::uint32_t>(registers[reg]) << 16) |
                                         registers[reg + 1]);
    };
    bool voltage_moved = false;
    std::int32_t energy = s32(energy_a);
    for (int round = 0; round < 20; ++round) {
        drift.step(registers.data());
        EXPECT_NEAR(s32(voltage_a), base.get_s32(voltage_a), base.get_s32(voltage_a) * 0.005 + 1);
        voltage_moved |= s32(voltage_a) != base.get_s32(voltage_a);
        EXPECT_GT(s32(energy_a), energy) << "round " << round;
        energy = s32(energy_a);
        EXPECT_EQ(s32(current_7), 0);
    }
    EXPECT_TRUE(voltage_moved);
    EXPECT_GT(s32(energy_7), base.get_s32(energy_7));
    EXPECT_EQ(registers[0], base.get(0)) << "system information is not a measurement";
}

TEST(ModbusEndpoints, ParseWithDefaultsAndRefuseNonsense) {
    const ModbusEndpoint tcp = parse_tcp_endpoint("10.0.0.7");
    EXPECT_EQ(tcp.host, "10.0.0.7");
    EXPECT_EQ(tcp.port, 502);
    EXPECT_EQ(tcp.unit, 1);
    EXPECT_EQ(parse_tcp_endpoint("h:1502:17").unit, 17);
    const ModbusEndpoint rtu = parse_rtu_endpoint("/dev/ttyUSB0::e:3");
    EXPECT_EQ(rtu.device, "/dev/ttyUSB0");
    EXPECT_EQ(rtu.baud, 0) << "left to the device's own rate";
    EXPECT_EQ(rtu.parity, 'E');
    EXPECT_EQ(rtu.unit, 3);
    EXPECT_EQ(parse_rtu_endpoint("/dev/ttyS1:19200").baud, 19200);
    EXPECT_EQ(parse_tcp_endpoint("h:502:0").unit, 0) << "a server addressed directly";
    EXPECT_EQ(parse_tcp_endpoint("h:502:255").unit, 255);
    for (const char* bad : {"", "h:70000", "h:502:256", "h:502:-1", "h:1:2:3", "h:x"}) {
        EXPECT_THROW(parse_tcp_endpoint(bad), std::invalid_argument) << bad;
    }
    for (const char* bad :
         {"", "/dev/ttyS0:9601", "/dev/ttyS0:9600:X", "/dev/ttyS0:9600:N:0", "/dev/ttyS0:9600:NN",
          "/dev/ttyS0:9600:8X1", "/dev/ttyS0:9600:9N1", "/dev/ttyS0:9600:8N3", "/dev/ttyS0:9600:8N1x"}) {
        EXPECT_THROW(parse_rtu_endpoint(bad), std::invalid_argument) << bad;
    }
}

// The runner's --unit as a site types it: the line it reaches (as the link names it in messages)
// or the refusal, which names the field at fault.
TEST(UnitOption, ReadsTheLineOrNamesTheFieldAtFault) {
    const struct {
        const char* text;
        const char* taken;  // ModbusEndpoint::describe(), or a part of the refusal
    } cases[] = {
        {"tcp:10.0.0.7", "tcp:10.0.0.7:502 unit 1"},
        {"tcp:h:1502:17", "tcp:h:1502 unit 17"},
        {"tcp:h:502:0", "tcp:h:502 unit 0"},
        {"tcp:h:502:255", "tcp:h:502 unit 255"},
        {"tcp:h:502:256", "--unit: unit id '256' is not a number from 0 to 255"},
        {"rtu:/dev/ttyUSB0", "rtu:/dev/ttyUSB0 0 8N1 unit 1"},
        {"rtu:/dev/ttyUSB0::e:3", "rtu:/dev/ttyUSB0 0 8E1 unit 3"},
        {"rtu:/dev/ttyUSB0:9600:8N1", "rtu:/dev/ttyUSB0 9600 8N1 unit 1"},
        {"rtu:/dev/ttyUSB0:9600:8E1:2", "rtu:/dev/ttyUSB0 9600 8E1 unit 2"},
        {"rtu:/dev/ttyUSB0:19200:7e1", "rtu:/dev/ttyUSB0 19200 7E1 unit 1"},
        {"rtu:/dev/ttyUSB0:9600:8N2:247", "rtu:/dev/ttyUSB0 9600 8N2 unit 247"},
        {"rtu:/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0:9600:8O1:1",
         "rtu:/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0 9600 8O1 unit 1"},
        {"rtu:/dev/ttyUSB0:9600:8X1", "--unit: parity 'X' in '8X1' is not N, E or O"},
        {"rtu:/dev/ttyUSB0:9600:X:1", "--unit: parity 'X' in 'X' is not N, E or O"},
        {"rtu:/dev/ttyUSB0:9600:9N1", "--unit: data bits '9' in '9N1' are not 5 to 8"},
        {"rtu:/dev/ttyUSB0:9600:8N3", "--unit: stop bits '3' in '8N3' are not 1 or 2"},
        {"rtu:/dev/ttyUSB0:9600:8N1:", "rtu:/dev/ttyUSB0 9600 8N1 unit 1"},
        {"rtu:/dev/ttyUSB0:8N1",
         "--unit: '8N1' stands where the baud rate goes (DEVICE:BAUD:8N1, or DEVICE::8N1"},
        {"rtu:/dev/ttyUSB0::8N1", "rtu:/dev/ttyUSB0 0 8N1 unit 1"},
        {"rtu:/dev/ttyUSB0:9600:N:0", "--unit: unit address '0' is not a number from 1 to 247"},
        {"rtu:/dev/ttyUSB0:9600:N:255", "--unit: unit address '255' is not a number from 1 to 247"},
        {"rtu::9600", "--unit: 'rtu::9600' names no serial device"},
        {"udp:h", "--unit: 'udp:h' is not sim, tcp:HOST:PORT[:UNIT] or rtu:DEVICE"},
    };
    for (const auto& c : cases) {
        std::string taken;
        try {
            taken = parse_unit_option(c.text).value().describe();
        } catch (const UsageError& e) {
            taken = e.what();
        }
        EXPECT_NE(taken.find(c.taken), std::string::npos) << c.text << ": " << taken;
    }
    EXPECT_FALSE(parse_unit_option("sim"));
}

}  // namespace
