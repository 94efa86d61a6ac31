#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <json/value.h>
#include <boost/date_time/posix_time/ptime.hpp>

#include "host/sp_modbus.h"
#include "host_runtime/plugin_library.h"

// Stored records loaded one after the other into one device of a loaded plug-in, as the host's
// cache hands them back, and the values of chosen snapshot members as the device builds them from
// each. The members are located by name once, in the tree the device hands out (request 803), and
// read there in place after each load: the device assigns its values in place and never moves or
// frees one while it lives. The runner, which is the host here, gives each load a round time of
// its own, so that the device rebuilds its snapshot for every record however fast they load.
//
// A member's value is its record's; an alarm-only "AlertArray" entry, once raised, stays for the
// device's life, so a snapshot that must show one record alone takes a device of its own
// (RecordSnapshots). The round time member shows when the record was loaded, not stored. The
// device has no host side that keeps anything (no observer), and its diagnostic lines do not reach
// standard output.
class RecordReplay {
public:
    // Loads the plug-in at `plugin_path` and creates the device; throws std::runtime_error when
    // either fails.
    RecordReplay(const std::string& plugin_path, std::vector<std::string> members);
    ~RecordReplay();
    RecordReplay(const RecordReplay&) = delete;
    RecordReplay& operator=(const RecordReplay&) = delete;

    // Loads `record` and returns the members' values in the order they were named, each null when
    // the snapshot has no such member, valid until the next load. `name` ("record 3 of h.bin")
    // heads the message of the std::runtime_error thrown when the plug-in refuses the record or
    // its snapshot.
    const std::vector<const Json::Value*>& load(const std::vector<std::uint8_t>& record,
                                                const std::string& name);

private:
    void locate(const Json::Value& tree);

    PluginLibrary plugin_;
    std::unique_ptr<SPModbus> device_;  // destroyed before the library that holds its code
    std::vector<std::string> members_;
    const Json::Value* tree_ = nullptr;  // where the members were located
    std::vector<const Json::Value*> values_;
    boost::posix_time::ptime round_time_;
};
