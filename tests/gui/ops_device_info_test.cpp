// Button 1004 "获取设备信息" on the running program: the headset's firmware version and
// microcontroller ID in the Status log, read through hid.dll from the simulated headset.
#include "ops_support.h"

namespace obrint::gui::ops {
namespace {

// The line the command shows: the version as four digits, then the 96-bit ID as three 32-bit
// little-endian words, each printed most significant byte first.
std::wstring InfoLine(const sim::HeadsetConfig& config) {
  std::wstring line = L"版本信息 " + Hex(config.applicationVersion, 4) + L":";
  for (int word = 0; word < 3; ++word) {
    for (int byte = 3; byte >= 0; --byte) line += Hex(config.mcuId[word * 4 + byte], 2);
  }
  return line + L"\r\n";
}

class DeviceInfoTest : public HeadsetWindowTest {
 protected:
  // Presses 1004 and waits until the Status log has changed from what it held before; the log is
  // read between messages, so once it has changed the command has ended.
  std::wstring PressAndReadLog() const {
    const std::wstring before = Log();
    main_.ClickButton(kDeviceInfo);
    WaitFor([&] { return Log() != before; }, kCommandTimeout);
    return Log();
  }
};

TEST_F(DeviceInfoTest, ShowsTheHeadsetsVersionAndMcuId) {
  AdoptHeadset();
  EXPECT_EQ(PressAndReadLog(), L"版本信息 0025:04030201080706050C0B0A09\r\n");
  EXPECT_FALSE(OtherDialog()) << "the command showed a box";
  EXPECT_EQ(main_.Text(), kMainCaption);

  // Only reads: the version and MCU ID reports, nothing written.
  const sim::Headset headset = SavedHeadset();
  for (const sim::TransferRecord& record : headset.log()) {
    EXPECT_EQ(record.direction, sim::TransferRecord::Direction::kGet)
        << "report " << int{record.reportId} << " was written";
  }
  EXPECT_EQ(headset.restarts(), 0);
}

TEST_F(DeviceInfoTest, NoHeadsetLeavesOnlyALineBreak) {
  // Nothing has told the program about the headset: its Device path is empty.
  ASSERT_EQ(Log(), L"");
  EXPECT_EQ(PressAndReadLog(), L"\r\n");
  EXPECT_FALSE(OtherDialog()) << "the command showed a box";
  EXPECT_TRUE(SavedHeadset().log().empty()) << "the headset was talked to";
}

TEST_F(DeviceInfoTest, AnUnpluggedHeadsetLeavesOnlyALineBreak) {
  AdoptHeadset();
  ASSERT_TRUE(PressAndReadLog().starts_with(L"版本信息 "));
  ChangeHeadset([](sim::Headset& headset) { headset.Unplug(); });

  EXPECT_EQ(PressAndReadLog(), L"\r\n");
  EXPECT_FALSE(OtherDialog()) << "the command showed a box";
}

class DeviceInfoOtherHeadsetTest : public DeviceInfoTest {
 protected:
  void Configure(sim::Headset& headset) override {
    headset.config().applicationVersion = 0xB4C7;
    headset.config().mcuId = {0xF1, 0x0E, 0xD2, 0x3C, 0x00, 0xA5,
                              0x5A, 0xFF, 0x80, 0x7F, 0x01, 0x10};
  }
};

TEST_F(DeviceInfoOtherHeadsetTest, EveryDigitComesFromItsOwnByte) {
  AdoptHeadset();
  EXPECT_EQ(PressAndReadLog(), InfoLine(SavedHeadset().config()));
}

class DeviceInfoFailedReadsTest : public DeviceInfoTest {
 protected:
  void Configure(sim::Headset& headset) override { headset.faults().refusedReports = {0x5F, 0x60}; }
};

TEST_F(DeviceInfoFailedReadsTest, BothReadsRefusedStillShowTheLine) {
  AdoptHeadset();
  EXPECT_EQ(PressAndReadLog(), L"版本信息 0:0\r\n");
  EXPECT_FALSE(OtherDialog()) << "the command showed a box";
}

}  // namespace
}  // namespace obrint::gui::ops
