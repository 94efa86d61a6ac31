// Soak: one device polled for many rounds, each a second later than the last so that every round
// rebuilds the snapshot, with the unicom example configuration, drifting values and a request 801
// after each round. Prints the process's resident memory every so many rounds, to show whether it
// stays flat.
//
//   px46_soak [ROUNDS [SAMPLE_EVERY]]     (default 100000 rounds, a sample every 10000)
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "driver/px46tr_k.h"
#include "host/bus_pump.h"
#include "host/simulated_unit.h"

namespace {

class SteppedClock : public Clock {
public:
    boost::posix_time::ptime local_now() const override { return now_; }
    std::time_t epoch_now() const override { return 1796000000 + seconds_; }
    void advance() {
        now_ += boost::posix_time::seconds(1);
        ++seconds_;
    }

private:
    boost::posix_time::ptime now_{boost::gregorian::date(2026, 12, 8)};
    long seconds_ = 0;
};

long resident_kb() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

}  // namespace

int main(int argc, char** argv) {
    const long rounds = argc > 1 ? std::atol(argv[1]) : 100000;
    const long every = argc > 2 ? std::atol(argv[2]) : 10000;

    namespace fs = std::filesystem;
    const fs::path work = fs::temp_directory_path() / ("px46_soak_" + std::to_string(getpid()));
    fs::create_directories(work / "ini");
    fs::copy_file(PX46_EXAMPLES_DIR "/unicom.yaml", work / "ini" / "1.yaml");
    fs::current_path(work);

    SimulatedUnit unit;
    SteppedClock clock;
    PX46TR_K device;
    device.set_clock(clock);
    device.set_diagnostic_sink(silent_sink());
    device.Init(std::weak_ptr<SMDController>(), 1, Json::Value(Json::objectValue));
    Json::Value settings(Json::objectValue);
    settings["aoReportSetting"]["0406101001"]["absBand"] = 1.0;
    device.InitSetting(settings);
    BusPump pump(device, unit);
    std::vector<char> text(1 << 20);

    for (long r = 1; r <= rounds; ++r) {
        for (int reg = 0; reg < 7466; reg += 7) unit.set(reg, static_cast<std::uint16_t>(r * 31 + reg));
        clock.advance();
        device.RefreshStatus();
        pump.pump_all();
        int length = 0;
        device.DeviceIoControl(801, nullptr, 0, text.data(), static_cast<int>(text.size()), length);
        if (r % every == 0 || r == 1) {
            std::cout << "round " << r << " rss_kb " << resident_kb() << std::endl;
        }
    }
    fs::current_path(fs::temp_directory_path());
    fs::remove_all(work);
    return 0;
}
