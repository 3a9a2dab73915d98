// The headset commands of the running program, end to end through the real hid.dll binding: what
// the window shows, and what the simulated headset behind the test-double hid.dll received.
#include "gui_support.h"

namespace obrint::gui {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint8_t kRunModeReport = 0x59, kDk1Mode = 0xFE;

// Bytes that differ from block to block; 300 of them make five full blocks and a short one.
Bytes Pattern(std::size_t size) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 131 + (i >> 8));
  return bytes;
}

using CommandsTest = ObrintTest;

TEST_F(CommandsTest, UpgradeRebootsWhenConfirmedThoughTheRestartsEventsCameMeanwhile) {
  AdoptHeadset();
  const Bytes image = Pattern(300);
  main_.Click(kUpgrade);
  ChooseInFileDialog(TestFile(L"upgrade.bin", image));
  const Window reboot = Box(L"Reboot?");
  ASSERT_TRUE(reboot) << "no \"Reboot?\" box; caption " << winbase::Narrow(main_.Text());
  EXPECT_TRUE(Shows(reboot, L"Update"));
  EXPECT_TRUE(reboot.Child(IDYES) && reboot.Child(IDNO)) << "not a Yes/No box";
  EXPECT_EQ(Log(), L"引导固件版本 0102\r\n");
  // The whole image is in the boot firmware and verified, but nothing is flashed before Yes.
  sim::Headset headset = Headset();
  EXPECT_TRUE(headset.bootTransfer().verified);
  EXPECT_EQ(headset.received(), image);
  EXPECT_TRUE(headset.flashed().empty());

  // The restart's events, sent as Windows sends them, reach the window while the box waits: each
  // refreshes the Mode controls from the boot firmware, which has no run mode.
  Remove(HeadsetInterfaceName(L"0021"));
  Arrive(HeadsetInterfaceName(L"0001"));
  EXPECT_EQ(Mode(), kModeOff) << "the events were not handled while the box waited";
  ASSERT_TRUE(Answer(reboot, IDYES));
  ASSERT_TRUE(WaitFor([&] { return main_.Text().starts_with(L"Update"); }, kCommandTimeout));
  EXPECT_EQ(main_.Text(), L"Update OK!") << "the Reboot packet went nowhere";
  EXPECT_FALSE(Box({}, Millis(1000))) << "a box followed the successful upgrade";
  headset = Headset();
  EXPECT_EQ(headset.flashed(), image);
  EXPECT_EQ(headset.restarts(), 2) << "into the boot firmware, and back after Reboot";

  // Back in its application firmware, the headset shows its run mode again.
  ASSERT_TRUE(WaitFor([&] {
    const sim::Headset back = Headset();
    return back.present() && back.productId() == 0x0021;
  }));
  Remove(HeadsetInterfaceName(L"0001"));
  Arrive(HeadsetInterfaceName(L"0021"));
  EXPECT_EQ(Mode(), kDk2Shown);
  SaveScreenshot(L"upgrade-update-ok", main_);
}

TEST_F(CommandsTest, ASecondPressAfterABlockFailureWritesTheSameImageAgain) {
  ChangeHeadset([](sim::Headset& headset) { headset.faults().wrongSumForBlock = 1; });
  AdoptHeadset();
  const Bytes image = Pattern(200);
  main_.Click(kUpgrade);
  ChooseInFileDialog(TestFile(L"upgrade-retry.bin", image));
  const Window failed = Box(L"升级失败。");
  ASSERT_TRUE(failed) << "no failure box; caption " << winbase::Narrow(main_.Text());
  EXPECT_TRUE(Shows(failed, L"Update"));
  EXPECT_EQ(main_.Text(), L"Update Err!");
  ASSERT_TRUE(Answer(failed, IDOK));
  EXPECT_FALSE(Box({}, Millis(1000))) << "another box followed the failure";
  ChangeHeadset([](sim::Headset& headset) { headset.faults() = {}; });

  // No open-file dialog this time; the headset, left in its boot firmware, is written where it is.
  main_.Click(kUpgrade);
  const Window reboot = Box(L"Reboot?");
  ASSERT_TRUE(reboot) << "no \"Reboot?\" box; caption " << winbase::Narrow(main_.Text());
  ASSERT_TRUE(Answer(reboot, IDYES));
  EXPECT_TRUE(WaitFor([&] { return main_.Text() == L"Update OK!"; }, kCommandTimeout));
  EXPECT_EQ(Headset().flashed(), image);
  EXPECT_EQ(Headset().restarts(), 2) << "one restart into the boot firmware, one Reboot";
}

// Presses 1006 and waits until the command has emptied the Status log. The log is read between
// the window's messages, so the command has then ended or waits in a message box.
void SwitchToDk1(const Window& main) {
  main.Child(kDk1).Send(BM_CLICK, 0, 0);
  main.Click(kRunMode);
  ASSERT_TRUE(WaitFor([&] { return main.ChildText(kLog) == L"\r\n"; }, kCommandTimeout))
      << "the Status log holds " << winbase::Narrow(main.ChildText(kLog));
}

TEST_F(CommandsTest, SelectingDk1WritesItAndRestartsTheHeadset) {
  AdoptHeadset();
  ASSERT_EQ(Mode(), kDk2Shown);
  SwitchToDk1(main_);
  EXPECT_FALSE(Box({}, Millis(1000))) << "a successful switch showed a box";
  EXPECT_EQ(Mode(), kDk1Shown);
  // Back from its restart, the headset runs in the mode written.
  const sim::Headset headset = Headset();
  EXPECT_EQ(headset.activeRunMode(), kDk1Mode);
  EXPECT_EQ(headset.restarts(), 1);
}

TEST_F(CommandsTest, ARefusedRunModeWriteShowsItsBoxWith1006Disabled) {
  AdoptHeadset();
  ChangeHeadset([](sim::Headset& headset) { headset.faults().refusedReports = {kRunModeReport}; });
  SwitchToDk1(main_);
  const Window failed = Box(L"模式切换失败！");
  ASSERT_TRUE(failed) << "no failure box";
  EXPECT_TRUE(Shows(failed, L"Mode"));
  EXPECT_FALSE(main_.Child(kRunMode).IsEnabled()) << "1006 is enabled while the command runs";
  ASSERT_TRUE(Answer(failed, IDOK));
  EXPECT_TRUE(WaitFor([&] { return main_.Child(kRunMode).IsEnabled(); }));
  EXPECT_EQ(Headset().restarts(), 0);
}

TEST_F(CommandsTest, StampingWritesTheChecksumIntoTheChosenFile) {
  // An odd length, so that the last byte counts as a word of its own; the version block's magic,
  // and a checksum field whose old content counts in the sum.
  Bytes image = Pattern(0x9C00 + 0x801);
  std::ranges::copy(Bytes{0x00, 0x55, 0xAA, 0xFF}, image.begin() + 0x9C00);
  std::ranges::copy(Bytes{0xFF, 0xFF, 0x00, 0x80}, image.begin() + 0x9C08);
  const std::wstring path = TestFile(L"stamp.bin", image);
  main_.Click(kVerify);
  ChooseInFileDialog(path);
  const Window done = Box(L"校验成功。");
  ASSERT_TRUE(done) << "no success box";
  EXPECT_TRUE(Shows(done, L"Checksum"));
  ASSERT_TRUE(Answer(done, IDOK));

  // The sum of the file's 16-bit little-endian words, 0x2901F1A1, worked out beforehand.
  std::ranges::copy(Bytes{0xA1, 0xF1, 0x01, 0x29}, image.begin() + 0x9C08);
  std::ifstream file(std::filesystem::path(path), std::ios::binary);
  EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(file), {}), image);
}

}  // namespace
}  // namespace obrint::gui
