#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>

#include "core/device_info.h"
#include "native/fakes/fake_ui.h"
#include "sim/headset_sim.h"

namespace obrint {
namespace {

using sim::TransferRecord;

// Two upper-case hexadecimal digits per byte, bytes in the order given.
std::string HexBytes(std::initializer_list<std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (std::uint8_t b : bytes) {
    text += kDigits[b >> 4];
    text += kDigits[b & 15];
  }
  return text;
}

class DeviceInfoTest : public ::testing::Test {
 protected:
  DeviceInfoTest() { location.devicePath = headset.interfacePath(); }

  std::string Run() { return ReadDeviceInfo(link, ui, location); }
  void ExpectReleased() {
    EXPECT_EQ(link.openHandles(), 0);
    EXPECT_FALSE(link.bound());
    EXPECT_EQ(link.loads(), link.frees());
  }
  void ExpectOnlyReads() {
    for (const auto& r : headset.log()) EXPECT_EQ(r.direction, TransferRecord::Direction::kGet);
  }

  sim::Headset headset;
  sim::SimHidLink link{headset};
  fakes::FakeUserInterface ui;
  HeadsetLocation location;
};

TEST_F(DeviceInfoTest, ShowsVersionAndMcuIdOnOneLine) {
  headset.config().applicationVersion = 0x0025;
  headset.config().mcuId = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C};
  Run();
  EXPECT_EQ(ui.status, "版本信息 0025:04030201080706050C0B0A09\r\n");
  EXPECT_EQ(ui.statusHistory.front(), "\r\n");  // emptied before anything else
  EXPECT_TRUE(ui.boxes.empty());
  ExpectOnlyReads();
  ExpectReleased();
}

TEST_F(DeviceInfoTest, FormatsEachWordLittleEndianUpperCaseAndZeroPadded) {
  headset.config().applicationVersion = 0xAB0C;
  headset.config().mcuId = {0xF0, 0x0E, 0xD0, 0x0C, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xEE, 0x0D, 0x01};
  Run();
  const std::string mcu = HexBytes({0x0C, 0xD0, 0x0E, 0xF0}) + HexBytes({0, 0, 0, 0}) +
                          HexBytes({0x01, 0x0D, 0xEE, 0xFF});
  EXPECT_EQ(ui.status, "版本信息 " + HexBytes({0xAB, 0x0C}) + ":" + mcu + "\r\n");

  headset.config().applicationVersion = 0x0007;
  Run();
  EXPECT_EQ(ui.status.substr(0, ui.status.find(':')), "版本信息 0007");
}

TEST_F(DeviceInfoTest, UnreadableReportsShowAsZero) {
  headset.faults().refusedReports = {0x5F, 0x60};
  Run();
  EXPECT_EQ(ui.status, "版本信息 0:0\r\n");
  ExpectReleased();

  headset.faults().refusedReports = {0x5F};
  Run();
  EXPECT_EQ(ui.status, "版本信息 0:04030201080706050C0B0A09\r\n");

  headset.faults().refusedReports = {0x60};
  Run();
  EXPECT_EQ(ui.status, "版本信息 0025:0\r\n");
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(DeviceInfoTest, BootFirmwareShowsItsOwnVersion) {
  headset =
      sim::Headset(sim::HeadsetConfig{.bootVersion = 0x0102, .startIn = sim::Firmware::kBoot});
  location.devicePath = headset.interfacePath();
  Run();
  EXPECT_EQ(ui.status, "版本信息 0102:04030201080706050C0B0A09\r\n");
}

TEST_F(DeviceInfoTest, WithoutHeadsetOnlyEmptiesTheStatusLog) {
  location.devicePath.clear();
  ui.status = "earlier text\r\n";
  Run();
  EXPECT_EQ(ui.statusHistory, std::vector<std::string>{"\r\n"});
  EXPECT_EQ(link.opens() + link.failedOpens(), 0);

  location.devicePath = headset.interfacePath();
  headset.Unplug();
  Run();
  EXPECT_EQ(ui.statusHistory, (std::vector<std::string>{"\r\n", "\r\n"}));
  EXPECT_EQ(link.loads(), 0);
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_TRUE(headset.log().empty());
}

}  // namespace
}  // namespace obrint
