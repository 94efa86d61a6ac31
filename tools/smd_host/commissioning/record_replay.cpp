#include "record_replay.h"

#include <exception>
#include <stdexcept>
#include <utility>

#include <boost/date_time/posix_time/posix_time_types.hpp>

#include "control_requests.h"
#include "standard_output_set_aside.h"

RecordReplay::RecordReplay(const std::string& plugin_path, std::vector<std::string> members)
    : plugin_(plugin_path),
      members_(std::move(members)),
      values_(members_.size(), nullptr),
      round_time_(boost::gregorian::date(2000, 1, 1)) {
    // As in load(): what leaves the plug-in's code is handled while the library is loaded.
    std::string failure;
    try {
        const StandardOutputSetAside quiet;
        device_ = plugin_.create_device();
    } catch (const std::exception& e) {
        failure = e.what();
    } catch (...) {
        failure = "an exception of unknown type";
    }
    if (!failure.empty()) throw std::runtime_error("the plug-in's device: " + failure);
}

RecordReplay::~RecordReplay() {
    const StandardOutputSetAside quiet;
    device_.reset();
}

const std::vector<const Json::Value*>& RecordReplay::load(const std::vector<std::uint8_t>& record,
                                                          const std::string& name) {
    // What leaves the plug-in's code is handled here, while the library is loaded: an exception's
    // type and message may live in it.
    std::string failure;
    try {
        const StandardOutputSetAside quiet;
        // The device rebuilds its snapshot once per round time; records load faster than one a
        // second, so each gets a time one second after the one before.
        round_time_ += boost::posix_time::seconds(1);
        device_->give_round_time(round_time_);
        if (!device_->LoadFromCache(record.data(), static_cast<int>(record.size()))) {
            failure = "refused by the plug-in (" + std::to_string(record.size()) + " bytes)";
        } else {
            const Json::Value& tree = snapshot_tree(*device_);
            if (!tree.isObject()) {
                failure = "the plug-in's snapshot is not a JSON object";
            } else if (&tree != tree_) {
                locate(tree);
            }
        }
    } catch (const std::exception& e) {
        failure = e.what();
    } catch (...) {
        failure = "an exception of unknown type";
    }
    if (!failure.empty()) throw std::runtime_error(name + ": " + failure);
    return values_;
}

void RecordReplay::locate(const Json::Value& tree) {
    for (std::size_t i = 0; i < members_.size(); ++i) {
        const std::string& member = members_[i];
        values_[i] = tree.find(member.data(), member.data() + member.size());
    }
    tree_ = &tree;
}
