// Configuration file contents (YAML or INI) and the settings object's profile and
// "thresholdSetting" through InitSetting, then optionally a round that evaluates what was loaded.
// The errors of the YAML, INI and JSON libraries are meant to reach the host; anything else that
// leaves InitSetting, a crash or a leak is a finding.
//
// Input: profile and its form, file choice, the "thresholdSetting" member built from the next
// bytes, then the file contents.

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include <json/value.h>
#include <yaml-cpp/exceptions.h>
#include <boost/property_tree/exceptions.hpp>

#include "catalogue/px46tr_k_data.h"
#include "device_harness.h"
#include "fuzz_support.h"

namespace {

// Keys the device and the host read from a "thresholdSetting" member, and a stray one.
const char* const kKeys[] = {"SignalName",
                             "NMAlarmID",
                             "ID",
                             "SignalNumber",
                             "UpValue",
                             "UpReconverValue",
                             "UpAlarmLevel",
                             "Up2Value",
                             "Up2ReconverValue",
                             "Up2AlarmLevel",
                             "LowValue",
                             "LowReconverValue",
                             "LowAlarmLevel",
                             "Low2Value",
                             "Low2ReconverValue",
                             "Low2AlarmLevel",
                             "AlarmLevel",
                             "Threshold",
                             "x"};
// Texts worth trying: signal names, identifiers short and long, numbers at float's edges.
const char* const kTexts[] = {"",   "环境温度", "A路进线-电压", "0418101", "0418001001", "2.7", "35",
                              "-5", "abc",      "1e39",         "-1e39",   "nan",        "inf", "4294967296"};

Json::Value text_value(FuzzInput& input) {
    const std::uint8_t choice = input.byte();
    if (choice < 192) return kTexts[choice % std::size(kTexts)];
    return input.text(24);
}

// A JSON value of any kind; containers only a few levels deep.
Json::Value any_value(FuzzInput& input, int depth) {
    switch (input.byte() % 9) {
        case 0:
            return Json::Value();
        case 1:
            return input.byte() % 2 == 0;
        case 2:
            return input.i32();
        case 3:
            return static_cast<double>(input.i32()) / 7.0;
        case 4:
            return static_cast<Json::UInt64>(input.i32()) << 32;
        case 6:
            if (depth < 3) {
                Json::Value array(Json::arrayValue);
                for (int n = input.byte() % 4; n > 0; --n) array.append(any_value(input, depth + 1));
                return array;
            }
            return Json::Value(Json::arrayValue);
        case 7:
            if (depth < 3) {
                Json::Value object(Json::objectValue);
                for (int n = input.byte() % 4; n > 0; --n) {
                    object[kKeys[input.byte() % std::size(kKeys)]] = any_value(input, depth + 1);
                }
                return object;
            }
            return Json::Value(Json::objectValue);
        default:
            return text_value(input);
    }
}

// Mostly objects of the keys above holding texts and numbers; now and then anything.
Json::Value threshold_setting(FuzzInput& input) {
    const std::uint8_t form = input.byte();
    if (form < 16) return any_value(input, 0);
    Json::Value setting(Json::objectValue);
    for (int members = form % 6; members > 0; --members) {
        const std::string id = text_value(input).asString();
        Json::Value entry(Json::objectValue);
        for (int keys = input.byte() % 12; keys > 0; --keys) {
            const char* key = kKeys[input.byte() % std::size(kKeys)];
            entry[key] = input.byte() % 4 == 0 ? any_value(input, 1) : text_value(input);
        }
        setting[id] = entry;
    }
    return setting;
}

// "appSetting"/"b_mode": one of the profiles as a number or a text, or any value.
Json::Value operator_profile(FuzzInput& input) {
    static const int kProfiles[] = {1, 2, 3, 5};
    const std::uint8_t choice = input.byte();
    const int b_mode = kProfiles[choice % 4];
    switch (choice / 4 % 4) {
        case 0:
            return b_mode;
        case 1:
            return std::to_string(b_mode);
        case 2:
            return std::to_string(b_mode) + "x";
        default:
            return any_value(input, 1);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    Json::Value settings(Json::objectValue);
    settings["appSetting"]["b_mode"] = operator_profile(input);
    const std::uint8_t file_choice = input.byte();
    settings["thresholdSetting"] = threshold_setting(input);
    const std::vector<std::uint8_t> contents = input.rest();

    // Device 1 finds ./ini/1.yaml, device 2 finds ./ini/2.ini (no 2.yaml is ever written), device
    // 3 finds nothing.
    const unsigned int data_id = file_choice % 5 < 2 ? 1 : file_choice % 5 < 4 ? 2 : 3;
    if (data_id == 1) write_file("ini/1.yaml", contents.data(), contents.size());
    if (data_id == 2) write_file("ini/2.ini", contents.data(), contents.size());

    DeviceHarness h;
    h.device.Init(std::weak_ptr<SMDController>(), data_id, Json::Value(Json::objectValue));
    try {
        h.device.InitSetting(settings);
    } catch (const YAML::Exception&) {
    } catch (const boost::property_tree::ptree_error&) {
    } catch (const Json::Exception&) {
    }

    // What was loaded, evaluated at the end of two rounds, with the file's last bytes in the
    // line measurements and the ambient values so that thresholds are crossed now and then.
    if (file_choice >= 128) {
        std::vector<std::uint8_t> record(px46tr_k::kRecordSize);
        const std::size_t ambient = offsetof(PX46TR_K_Data_t, ambient);
        for (std::size_t i = 0; i < contents.size() && i < 64; ++i) {
            const std::uint8_t byte = contents[contents.size() - 1 - i];
            record[px46tr_k::kImageBegin + i] = byte;
            record[ambient + i % 4] ^= byte;
        }
        FUZZ_CHECK(h.device.LoadFromCache(record.data(), static_cast<int>(record.size())));
        h.clock.advance(61);
        FUZZ_CHECK(h.device.LoadFromCache(record.data(), static_cast<int>(record.size())));
    }
    return 0;
}
