#include <gtest/gtest.h>

#include <sstream>

#include "catalogue_listing.h"
#include "device_harness.h"

namespace {

struct Listing {
    std::vector<std::string> members;
    std::vector<std::string> alarms;
    std::vector<std::string> lines;
};

Listing listing() {
    std::ostringstream out;
    print_catalogue(out);
    Listing l;
    std::istringstream lines(out.str());
    for (std::string line; std::getline(lines, line);) {
        l.lines.push_back(line);
        const auto tab = line.find('\t');
        const std::string name = line.substr(0, tab);
        const std::string kind = line.substr(tab + 1, line.find('\t', tab + 1) - tab - 1);
        (kind == "alarm" ? l.alarms : l.members).push_back(name);
    }
    return l;
}

TEST(CatalogueListing, MembersAreThoseOfAFullSnapshot) {
    DeviceHarness h;
    h.run_round();
    std::vector<std::string> snapshot_members = h.device.json_.root().getMemberNames();
    snapshot_members.erase(std::find(snapshot_members.begin(), snapshot_members.end(), "AlertArray"));
    std::vector<std::string> listed = listing().members;
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, snapshot_members);
}

TEST(CatalogueListing, AlarmsAreThoseTheDeviceReports) {
    const Listing l = listing();
    DeviceHarness h;
    for (std::size_t i = 0; i < l.alarms.size(); ++i) {
        h.device.alarm_configuration().alarm_rules_[l.alarms[i]] = "ID" + std::to_string(i);
    }
    h.run_round();
    const auto reports = h.calls.named("CheckThresholdBool");
    ASSERT_EQ(reports.size(), l.alarms.size());
    for (std::size_t i = 0; i < reports.size(); ++i) {
        EXPECT_EQ(reports[i].args[3].asString(), l.alarms[i]) << "report " << i;
    }
}

TEST(CatalogueListing, SourcesTellRegisterDivisorAndFlag) {
    const Listing l = listing();
    auto line_of = [&](const std::string& name, const std::string& kind) {
        for (const auto& line : l.lines) {
            if (line.rfind(name + "\t" + kind + "\t", 0) == 0) return line;
        }
        return std::string("missing: ") + name;
    };
    EXPECT_EQ(line_of("A路进线-有功电能", "number"),
              "A路进线-有功电能\tnumber\tregisters 10-11 signed 32-bit /10 /1000");
    EXPECT_EQ(line_of("环境温度", "number"), "环境温度\tnumber\tregister 4247 unsigned /10");
    EXPECT_EQ(line_of("出线支路61电流越上线", "status word"),
              "出线支路61电流越上线\tstatus word\tregister 7436 bit 12 (set: 告警)");
    EXPECT_EQ(line_of("出线支路61电流越上线", "alarm"), "出线支路61电流越上线\talarm\tregister 7436 bit 12");
    EXPECT_EQ(line_of("A路进线总开关状态", "status word"),
              "A路进线总开关状态\tstatus word\tregister 4099 (switch code 0 正常 1 告警 2 空闲 3 分闸)");
    EXPECT_EQ(line_of("进线电压欠压", "alarm"), "进线电压欠压\talarm\tno polled register (never active)");
    EXPECT_EQ(line_of("系统总告警状态", "alarm"), "系统总告警状态\talarm\tregister 4098 equal to 1");
}

}  // namespace
