// The device registry on the PortAudio double: keys, look-ups after the list changed,
// and the library reference given back on every path.
#include <gtest/gtest.h>

#include "engine/device_registry.h"
#include "engine/tests/portaudio_double.h"
#include "engine/tests/session_log.h"

namespace tallix {
namespace {

using testing::PortAudioDouble;
using testing::SessionLog;

class DeviceRegistryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        pa.devices = {{"Mic", 2, 0}, {"Speakers", 0, 2}, {"Headset", 1, 1}, {"Mic", 1, 0}};
        pa.defaultInput = 0;
        pa.defaultOutput = 1;
    }
    PortAudioDouble pa;
    SessionLog log;
    DeviceRegistry registry{pa.api(), log.log()};
};

TEST_F(DeviceRegistryTest, ProbeListsDevicesWithKeysAndDefaultsAndGivesTheReferenceBack) {
    ASSERT_EQ(registry.probe(), Result::ok);
    EXPECT_EQ(pa.references, 0);
    ASSERT_EQ(registry.devices().size(), 4u);
    EXPECT_EQ(registry.devices()[0].key, "Mic|00|02|00");
    EXPECT_EQ(registry.devices()[2].key, "Headset|02|01|01");
    EXPECT_TRUE(registry.devices()[0].isDefaultInput);
    EXPECT_TRUE(registry.devices()[1].isDefaultOutput);
    EXPECT_FALSE(registry.devices()[1].isInput);
    EXPECT_TRUE(log.contains("3|Using PortAudio backend: Double WASAPI"));
    EXPECT_TRUE(log.contains("3|  [0] Double WASAPI"));
}

TEST_F(DeviceRegistryTest, KeyFormatsWideIndexesInFullAndCutsLongNames) {
    EXPECT_EQ(makeDeviceKey("Headset Microphone (USB Audio)", 3, 2, 0),
              "Headset Microphone (USB Audio)|03|02|00");
    EXPECT_EQ(makeDeviceKey("X", 123, 12, 2), "X|123|12|02");
    pa.devices = {{std::string(300, 'n'), 1, 0}};
    ASSERT_EQ(registry.probe(), Result::ok);
    EXPECT_EQ(registry.devices()[0].name.size(), DeviceRegistry::kMaxNameLength);
    EXPECT_EQ(registry.lookup(registry.devices()[0].key), 0);
}

TEST_F(DeviceRegistryTest, LookupFollowsNameAndChannelsWhenTheIndexWentStale) {
    ASSERT_EQ(registry.probe(), Result::ok);
    EXPECT_EQ(registry.lookup("Headset|02|01|01"), 2);
    EXPECT_EQ(registry.lookup("Headset|00|01|01"), 2);   // index names another device
    EXPECT_EQ(registry.lookup("Headset|99|01|01"), 2);   // index beyond the list
    EXPECT_EQ(registry.lookup("Mic|03|01|00"), 3);       // same name, index decides
    EXPECT_EQ(registry.lookup("Mic|00|01|00"), 3);       // counts decide over the index
    EXPECT_EQ(registry.lookup("Mic"), 0);                // bare name: first of that name
    EXPECT_EQ(registry.lookup("Mic||01"), 0);            // empty fields vanish: name, index 01
    EXPECT_EQ(registry.lookup("Speakers|07|xx|02"), 1);  // "xx" must be exactly 0 inputs
    EXPECT_EQ(registry.lookup("Headset|02|xx|01"), -1);
    EXPECT_EQ(registry.lookup("Headset|02|01|02"), -1);
    EXPECT_EQ(registry.lookup(""), -1);
    EXPECT_EQ(registry.lookup("|||"), -1);
    EXPECT_EQ(registry.lookup("Nobody|00|00|00"), -1);
    EXPECT_EQ(registry.lookup("Mic|99999999999999999999999|02|00"),
              0);  // out of range: no fast path
}

TEST_F(DeviceRegistryTest, NoDevicesLeavesBothDefaultsUnset) {
    pa.devices.clear();
    ASSERT_EQ(registry.probe(), Result::ok);
    EXPECT_TRUE(registry.devices().empty());
    EXPECT_EQ(registry.defaultInput(), -1);
    EXPECT_EQ(registry.defaultOutput(), -1);
}

TEST_F(DeviceRegistryTest, ProbeFailuresReportCodeThreeAndHoldNoReference) {
    pa.hostDeviceCount = paInternalError;
    EXPECT_EQ(registry.probe(), Result::failed);
    EXPECT_EQ(pa.references, 0);
    EXPECT_TRUE(log.contains("1|Failed to fetch PortAudio device list"));

    pa.hostDeviceCount = 0;
    pa.initializeError = paInsufficientMemory;
    EXPECT_EQ(registry.probe(), Result::failed);
    EXPECT_EQ(pa.references, 0);
    EXPECT_TRUE(log.contains("1|Failed to initialise PortAudio: double error"));
}

}  // namespace
}  // namespace tallix
