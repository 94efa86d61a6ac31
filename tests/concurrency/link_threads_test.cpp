#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "catalogue/register_map.h"
#include "frame_trace.h"
#include "host_runtime/modbus_link.h"
#include "host_runtime/plugin_library.h"
#include "site_run.h"
#include "temp_work_dir.h"
#include "unit_sim/unit_server.h"

namespace {

// Links on threads of their own, each with its own frame trace, as a host polls several lines:
// every trace holds its own link's frames, all of them, and nothing else; the process's standard
// output is never theirs.
TEST(LinkThreads, EachLinkTracesItsOwnFramesWhileAnotherRuns) {
    constexpr int kLinks = 3;
    constexpr int kRounds = 4;
    TempWorkDir work;
    std::vector<std::unique_ptr<unit_sim::UnitServer>> servers;
    std::vector<std::thread> threads;
    std::vector<int> answered(kLinks, 0);
    for (int i = 0; i < kLinks; ++i) {
        unit_sim::ServerOptions options;
        options.endpoint = parse_tcp_endpoint("127.0.0.1:0");
        servers.push_back(std::make_unique<unit_sim::UnitServer>(unit_sim::RegisterImage(), options));
        servers.back()->start();
    }
    for (int i = 0; i < kLinks; ++i) {
        threads.emplace_back([&, i] {
            FrameTrace trace("frames" + std::to_string(i) + ".txt");
            LinkSettings settings;
            settings.response_timeout = 5;
            settings.wire_observers.push_back(&trace);
            ModbusLink link(parse_tcp_endpoint("127.0.0.1:" + std::to_string(servers[i]->port())), settings);
            for (int round = 1; round <= kRounds; ++round) {
                trace.round_started("link " + std::to_string(i), round);
                for (const auto& row : px46tr_k::kRegisterMap) {
                    const ModbusRequest read{
                        ModbusRequest::Kind::read_registers, row.first_register, row.count, {}};
                    answered[i] += link.transact(read).ok ? 1 : 0;
                    std::printf("%s", "");  // the standard streams stay the process's own
                }
                trace.flush();
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (int i = 0; i < kLinks; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(answered[i], kRounds * 62);
        std::ifstream in("frames" + std::to_string(i) + ".txt");
        const std::string own = "  tcp:127.0.0.1:" + std::to_string(servers[i]->port()) + " unit 1  ";
        int frames = 0;
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("# ", 0) == 0) continue;
            const bool frame =
                line.find(own + ">  ") != std::string::npos || line.find(own + "<  ") != std::string::npos;
            frames += frame ? 1 : 0;
            EXPECT_TRUE(frame || line.find("  link " + std::to_string(i) + "  round ") != std::string::npos ||
                        line.find(own) != std::string::npos)
                << line;
        }
        EXPECT_EQ(frames, 2 * kRounds * 62);
    }
}

// A site's lines on threads of their own, through the loaded plug-in, sharing the JSONL trace and
// the frame trace: every unit completes its rounds. A server addressed directly answers unit ids 0
// and 255 as well as its own, so one simulator stands for three units of a line.
TEST(LinkThreads, SiteLinesRunOnThreadsOfTheirOwn) {
    TempWorkDir work;
    PluginLibrary plugin(PX46TR_K_PLUGIN_PATH);
    std::vector<std::unique_ptr<unit_sim::UnitServer>> servers;
    Site site;
    for (int l = 1; l <= 2; ++l) {
        unit_sim::ServerOptions options;
        options.endpoint = parse_tcp_endpoint("127.0.0.1:0");
        servers.push_back(std::make_unique<unit_sim::UnitServer>(unit_sim::RegisterImage(), options));
        servers.back()->start();
        SiteLine line;
        line.link.unit = "tcp:127.0.0.1:" + std::to_string(servers.back()->port());
        line.link.timeout_seconds = 5;
        line.name = "line " + std::to_string(l);
        for (int unit : {1, 0, 255}) {
            SiteUnit u;
            u.unit = unit;
            u.data_id = static_cast<unsigned>(1000 * l + unit);
            u.interval_seconds = 0;
            u.name = line.name + " unit " + std::to_string(unit);
            line.units.push_back(u);
        }
        site.lines.push_back(line);
    }
    RunnerOptions options;
    options.rounds = 2;
    options.trace_path = "site.jsonl";
    options.trace_frames_path = "frames.txt";
    std::ostringstream messages;
    const std::atomic<bool> stop{false};
    EXPECT_EQ(run_site(options, site, plugin, stop, messages), 0) << messages.str();
    for (const SiteLine& line : site.lines) {
        for (const SiteUnit& unit : line.units) {
            EXPECT_NE(messages.str().find(unit.name + ": 2 of 2 rounds completed"), std::string::npos)
                << messages.str();
        }
    }
}

}  // namespace
