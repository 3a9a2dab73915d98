// The headset commands of the running program, end to end through the real hid.dll binding: what
// the window shows, and what the simulated headset behind the test-double hid.dll received.
#include "gui_support.h"

namespace obrint::gui {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint8_t kTransferReport = 0x61, kDataCommand = 0x02, kFinishCommand = 0x10;
constexpr std::uint8_t kRunModeReport = 0x59, kRestartReport = 0x58, kDk1Mode = 0xFE;

// Bytes that differ from block to block; 300 of them make five full blocks and a short one.
Bytes Pattern(std::size_t size) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 131 + (i >> 8));
  return bytes;
}

std::vector<int> ButtonIds(const Window& box) {
  std::vector<int> ids;
  for (const auto& [id, text] : ViewDialog(box).buttons) ids.push_back(id);
  return ids;
}

using CommandsTest = ObrintTest;

TEST_F(CommandsTest, UpgradeWritesTheChosenImageAndRebootsWhenConfirmed) {
  AdoptHeadset();
  const Bytes image = Pattern(300);
  main_.Click(kUpgrade);
  ChooseInFileDialog(TestFile(L"upgrade.bin", image));
  const Window reboot = Box(L"Reboot?");
  ASSERT_TRUE(reboot) << "no \"Reboot?\" box; caption " << win::Narrow(main_.Text());
  EXPECT_TRUE(ViewDialog(reboot).HasText(L"Update"));
  EXPECT_EQ(ButtonIds(reboot), (std::vector<int>{IDYES, IDNO}));
  EXPECT_EQ(Log(), L"引导固件版本 0102\r\n");
  // The whole image is in the boot firmware and verified, but nothing is flashed before Yes.
  sim::Headset headset = Headset();
  EXPECT_TRUE(headset.bootTransfer().verified);
  EXPECT_EQ(headset.received(), image);
  EXPECT_TRUE(headset.flashed().empty());

  ASSERT_TRUE(Answer(reboot, IDYES));
  ASSERT_TRUE(WaitFor([&] { return main_.Text() == L"Update OK!"; }, kCommandTimeout))
      << "caption " << win::Narrow(main_.Text());
  EXPECT_FALSE(Box({}, Millis(1000))) << "a box followed the successful upgrade";
  SaveScreenshot(L"upgrade-update-ok", main_);
  headset = Headset();
  EXPECT_EQ(headset.flashed(), image);
  EXPECT_EQ(headset.restarts(), 2) << "into the boot firmware, and back after Reboot";
}

TEST_F(CommandsTest, ASecondPressAfterABlockFailureWritesTheSameImageAgain) {
  ChangeHeadset([](sim::Headset& headset) { headset.faults().wrongSumForBlock = 1; });
  AdoptHeadset();
  const Bytes image = Pattern(200);
  main_.Click(kUpgrade);
  ChooseInFileDialog(TestFile(L"upgrade-retry.bin", image));
  const Window failed = Box(L"升级失败。");
  ASSERT_TRUE(failed) << "no failure box; caption " << win::Narrow(main_.Text());
  EXPECT_TRUE(ViewDialog(failed).HasText(L"Update"));
  EXPECT_EQ(main_.Text(), L"Update Err!");
  // Blocks 0 and 1 went out, and nothing after the block whose answer disagreed.
  int dataPackets = 0;
  for (const sim::TransferRecord& set : SetsOf(Headset(), kTransferReport)) {
    EXPECT_NE(set.bytes.at(3), kFinishCommand) << "the image was finished after a wrong block";
    dataPackets += set.bytes.at(3) == kDataCommand;
  }
  EXPECT_EQ(dataPackets, 2);
  ASSERT_TRUE(Answer(failed, IDOK));
  EXPECT_FALSE(Box({}, Millis(1000))) << "another box followed the failure";
  ChangeHeadset([](sim::Headset& headset) { headset.faults() = {}; });

  // No open-file dialog this time; the headset, left in its boot firmware, is written where it is.
  main_.Click(kUpgrade);
  const Window reboot = Box(L"Reboot?");
  ASSERT_TRUE(reboot) << "no \"Reboot?\" box; caption " << win::Narrow(main_.Text());
  ASSERT_TRUE(Answer(reboot, IDYES));
  EXPECT_TRUE(WaitFor([&] { return main_.Text() == L"Update OK!"; }, kCommandTimeout));
  EXPECT_EQ(Headset().flashed(), image);
  EXPECT_EQ(Headset().restarts(), 2) << "one restart into the boot firmware, one Reboot";
}

class DeviceInfoTest : public ObrintTest {
  sim::HeadsetConfig Config() const override {
    sim::HeadsetConfig config;
    config.applicationVersion = 0xB4C7;
    config.mcuId = {0xF1, 0x0E, 0xD2, 0x3C, 0x00, 0xA5, 0x5A, 0xFF, 0x80, 0x7F, 0x01, 0x10};
    return config;
  }
};

// The ID as three 32-bit little-endian words, each printed most significant byte first.
TEST_F(DeviceInfoTest, TheAdoptedHeadsetsVersionAndMcuIdFillTheStatusLog) {
  AdoptHeadset();
  EXPECT_EQ(Log(), L"设备链接 HID\\VID_2833&PID_0021\\7&1A2B3C4D&0&0000\r\n");
  EXPECT_EQ(Mode(), kDk2Shown);
  main_.Click(kDeviceInfo);
  EXPECT_TRUE(WaitFor([&] { return Log() == L"版本信息 B4C7:3CD20EF1FF5AA50010017F80\r\n"; }))
      << win::Narrow(Log());
  EXPECT_FALSE(Box({}, Millis(1000))) << "the command showed a box";
}

// Presses 1006 and waits until the command has emptied the Status log. The log is read between
// the window's messages, so the command has then ended or waits in a message box.
void SwitchToDk1(const Window& main) {
  main.Child(kDk1).Send(BM_CLICK, 0, 0);
  main.Click(kRunMode);
  ASSERT_TRUE(WaitFor([&] { return main.ChildText(kLog) == L"\r\n"; }, kCommandTimeout))
      << "the Status log holds " << win::Narrow(main.ChildText(kLog));
}

TEST_F(CommandsTest, SelectingDk1WritesItAndRestartsTheHeadset) {
  AdoptHeadset();
  ASSERT_EQ(Mode(), kDk2Shown);
  SwitchToDk1(main_);
  EXPECT_FALSE(Box({}, Millis(1000))) << "a successful switch showed a box";
  EXPECT_EQ(Mode(), kDk1Shown);
  const sim::Headset headset = Headset();
  EXPECT_EQ(headset.runMode(), kDk1Mode);
  const std::vector<sim::TransferRecord> modeSets = SetsOf(headset, kRunModeReport);
  ASSERT_EQ(modeSets.size(), 1u);
  EXPECT_EQ(modeSets[0].bytes, (Bytes{0x59, 0x01, 0x00, kDk1Mode}));
  const std::vector<sim::TransferRecord> restarts = SetsOf(headset, kRestartReport);
  ASSERT_EQ(restarts.size(), 1u);
  EXPECT_EQ(restarts[0].bytes, (Bytes{0x58, 0x01, 0x00, 0x00}));
}

TEST_F(CommandsTest, ARefusedRunModeWriteShowsItsBoxWith1006Disabled) {
  AdoptHeadset();
  ChangeHeadset([](sim::Headset& headset) { headset.faults().refusedReports = {kRunModeReport}; });
  SwitchToDk1(main_);
  const Window failed = Box(L"模式切换失败！");
  ASSERT_TRUE(failed) << "no failure box";
  EXPECT_TRUE(ViewDialog(failed).HasText(L"Mode"));
  EXPECT_FALSE(main_.Child(kRunMode).IsEnabled()) << "1006 is enabled while the command runs";
  ASSERT_TRUE(Answer(failed, IDOK));
  EXPECT_TRUE(WaitFor([&] { return main_.Child(kRunMode).IsEnabled(); }));
  // One try at DK1, and no restart.
  const sim::Headset headset = Headset();
  ASSERT_EQ(SetsOf(headset, kRunModeReport).size(), 1u);
  EXPECT_TRUE(SetsOf(headset, kRestartReport).empty());
}

TEST_F(CommandsTest, StampingWritesTheChecksumIntoTheChosenFile) {
  // An odd length, so that the last byte counts as a word of its own; the version block's magic,
  // and a checksum field whose old content counts in the sum.
  Bytes image = Pattern(0x9C00 + 0x801);
  const Bytes magic = {0x00, 0x55, 0xAA, 0xFF}, oldField = {0xFF, 0xFF, 0x00, 0x80};
  std::copy(magic.begin(), magic.end(), image.begin() + 0x9C00);
  std::copy(oldField.begin(), oldField.end(), image.begin() + 0x9C08);
  const std::wstring path = TestFile(L"stamp.bin", image);
  main_.Click(kVerify);
  ChooseInFileDialog(path);
  const Window done = Box(L"校验成功。");
  ASSERT_TRUE(done) << "no success box";
  EXPECT_TRUE(ViewDialog(done).HasText(L"Checksum"));
  ASSERT_TRUE(Answer(done, IDOK));

  // The sum of the file's 16-bit little-endian words, 0x2901F1A1, worked out beforehand.
  Bytes expected = image;
  const Bytes checksum = {0xA1, 0xF1, 0x01, 0x29};
  std::copy(checksum.begin(), checksum.end(), expected.begin() + 0x9C08);
  std::ifstream file(std::filesystem::path(path), std::ios::binary);
  EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(file), {}), expected);
}

}  // namespace
}  // namespace obrint::gui
