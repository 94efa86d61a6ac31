#include "bench_support.h"

#include <unistd.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>

#include "unit_sim/drift.h"
#include "unit_sim/register_image.h"
#include "unit_sim/scenario.h"

namespace bench {

namespace fs = std::filesystem;

ExampleWorkFolder::ExampleWorkFolder(const std::string& name)
    : folder_(fs::temp_directory_path() / (name + "_" + std::to_string(getpid()))),
      previous_(fs::current_path()) {
    fs::create_directories(folder_ / "ini");
    fs::current_path(folder_);
}

ExampleWorkFolder::~ExampleWorkFolder() {
    std::error_code ignored;
    fs::current_path(previous_, ignored);
    fs::remove_all(folder_, ignored);
}

void ExampleWorkFolder::configure(unsigned int data_id) const {
    fs::copy_file(PX46_EXAMPLES_DIR "/unicom.yaml", folder_ / "ini" / (std::to_string(data_id) + ".yaml"),
                  fs::copy_options::overwrite_existing);
}

void configure_unknown_names(unsigned int data_id, int unknown_names) {
    std::ifstream example(PX46_EXAMPLES_DIR "/unicom.yaml", std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(example)), std::istreambuf_iterator<char>());
    std::string names;
    for (int k = 1; k <= unknown_names; ++k)
        names += "  未知信号" + std::to_string(k) + ": \"0406199001,x\"\n";
    const std::size_t section = text.find("\nAI:\n");
    if (section == std::string::npos) throw std::runtime_error("the unicom example has no AI section");
    text.insert(section + 5, names);
    std::ofstream(fs::path("ini") / (std::to_string(data_id) + ".yaml"), std::ios::binary | std::ios::trunc)
        << text;
}

namespace {

// The base image and the cycle of drift frames, as (register, value) columns: the registers that
// move anywhere in the cycle, and each frame's values of them.
struct DriftCycle {
    static constexpr std::size_t kFrames = 64;
    unit_sim::RegisterImage base;
    std::vector<int> registers;
    std::vector<std::vector<std::uint16_t>> frames;
};

std::unique_ptr<DriftCycle> make_drift_cycle() {
    auto cycle = std::make_unique<DriftCycle>();
    cycle->base = unit_sim::scenario_image(unit_sim::default_scenario());
    unit_sim::Drift drift(cycle->base);
    std::vector<std::uint16_t> image = cycle->base.registers();
    std::vector<std::vector<std::uint16_t>> images;
    for (std::size_t k = 0; k < DriftCycle::kFrames; ++k) {
        drift.step(image.data());
        images.push_back(image);
    }
    for (int reg = 0; reg < unit_sim::kRegisterCount; ++reg) {
        for (const auto& frame : images) {
            if (frame[static_cast<std::size_t>(reg)] != cycle->base.get(reg)) {
                cycle->registers.push_back(reg);
                break;
            }
        }
    }
    for (const auto& frame : images) {
        std::vector<std::uint16_t> values;
        for (int reg : cycle->registers) values.push_back(frame[static_cast<std::size_t>(reg)]);
        cycle->frames.push_back(std::move(values));
    }
    return cycle;
}

const DriftCycle& drift_cycle() {
    static const std::unique_ptr<DriftCycle> cycle = make_drift_cycle();
    return *cycle;
}

}  // namespace

DriftingUnit::DriftingUnit(unsigned int phase) : frame_(phase % DriftCycle::kFrames) {
    const DriftCycle& cycle = drift_cycle();
    for (int reg = 0; reg < unit_sim::kRegisterCount; ++reg) set(reg, cycle.base.get(reg));
}

void DriftingUnit::drift() {
    const DriftCycle& cycle = drift_cycle();
    frame_ = (frame_ + 1) % DriftCycle::kFrames;
    const std::vector<std::uint16_t>& values = cycle.frames[frame_];
    for (std::size_t i = 0; i < values.size(); ++i) set(cycle.registers[i], values[i]);
}

std::size_t DriftingUnit::moving_registers() { return drift_cycle().registers.size(); }

Json::Value example_settings() {
    Json::Value settings(Json::objectValue);
    settings["aoReportSetting"]["0406101001"]["absBand"] = 1.0;
    return settings;
}

void set_up_example_device(PX46TR_K& device, const framework::Clock& clock, unsigned int data_id) {
    device.set_clock(clock);
    device.set_diagnostic_sink(framework::silent_sink());
    device.Init(std::weak_ptr<SMDController>(), data_id, Json::Value(Json::objectValue));
    device.InitSetting(example_settings());
}

std::size_t polling_round(SPModbus& device, BusPump& pump, DriftingUnit& unit, SteppedClock& clock) {
    unit.drift();
    clock.advance();
    device.RefreshStatus();
    return pump.pump_all();
}

PolledExampleDevice::PolledExampleDevice(unsigned int data_id, int warm_up_rounds) : unit(data_id) {
    set_up_example_device(device, clock, data_id);
    for (int r = 0; r < warm_up_rounds; ++r) round();
}

int request_snapshot_text(PX46TR_K& device, std::vector<char>& out) {
    int length = 0;
    const int result = device.DeviceIoControl(px46tr_k::kControlSnapshotText, nullptr, 0, out.data(),
                                              static_cast<int>(out.size()), length);
    return result == 0 ? length : -1;
}

long resident_kb() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

}  // namespace bench
