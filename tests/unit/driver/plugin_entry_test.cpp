#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>

#include "driver/px46tr_k.h"
#include "framework/diagnostic_sink.h"
#include "host_runtime/plugin_library.h"
#include "test_device.h"

#ifndef PX46TR_K_PLUGIN_PATH
#error "the tests need the path of the built plug-in"
#endif

namespace {

TEST(PluginEntry, GetProvidersGivesOneFreshProviderPerCall) {
    PluginLibrary first(PX46TR_K_PLUGIN_PATH);
    PluginLibrary second(PX46TR_K_PLUGIN_PATH);
    ASSERT_EQ(first.providers().size(), 1u);
    ASSERT_EQ(second.providers().size(), 1u);
    EXPECT_NE(first.providers()[0].get(), second.providers()[0].get());
    EXPECT_NE(dynamic_cast<const SMDSPDeviceProvider*>(first.providers()[0].get()), nullptr);
}

TEST(PluginEntry, FailingGetProvidersIsReportedWithItsMessage) {
    try {
        PluginLibrary plugin(PX46_FAILING_PLUGIN_PATH);
        FAIL() << "a plug-in without providers was loaded";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("no unit of this kind"), std::string::npos) << e.what();
    }
}

TEST(PluginEntry, CreatedDeviceHasTheDefaults) {
    PluginLibrary plugin(PX46TR_K_PLUGIN_PATH);
    std::unique_ptr<SPModbus> device = plugin.create_device();
    EXPECT_EQ(device->DeviceType(), "px46tr_k");
    EXPECT_EQ(device->baud_rate(), 9600);
    EXPECT_TRUE(device->GetChildVDevice(0) == nullptr);
    EXPECT_TRUE(device->GetChildVDevice(7) == nullptr);
    EXPECT_TRUE(device->GetAllChildVDevices().empty());
    EXPECT_THROW(device->Get_Value(1, "x"), std::out_of_range);
}

TEST(DeviceDefaults, ConstructionSetsTheDocumentedValues) {
    TestDevice device;
    EXPECT_EQ(device.DeviceType(), "px46tr_k");
    EXPECT_EQ(device.write_transaction().write_result_, -1);
    EXPECT_EQ(device.write_transaction().write_expect_, -1);
    EXPECT_EQ(device.b_mode_, 1);
    EXPECT_EQ(device.serial_flag_, 1);
    EXPECT_TRUE(device.json_.root().isNull());
    EXPECT_TRUE(device.json_time_.is_not_a_date_time());
    EXPECT_EQ(device.record(), std::vector<std::uint8_t>(3921, 0));
}

TEST(DeviceDefaults, InitSettingStoresTheDataIdentifier) {
    TestDevice device;
    device.set_diagnostic_sink(framework::silent_sink());
    device.Init(std::weak_ptr<SMDController>(), 0x01020304u, Json::Value(Json::objectValue));
    EXPECT_TRUE(device.InitSetting(Json::Value(Json::objectValue)));
    EXPECT_EQ(device.record()[0], 0x04);
    EXPECT_EQ(device.record()[3], 0x01);
    EXPECT_EQ(device.DataId(), 0x01020304u);
}

}  // namespace
