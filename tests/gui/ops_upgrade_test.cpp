// Button 1002 "升级固件程序" on the running program: an image chosen in the open-file dialog goes
// through the simulated headset's boot firmware, with the outcome in the caption and in boxes.
#include <chrono>
#include <cstdio>

#include "ops_support.h"

namespace obrint::gui::ops {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint8_t kTransferReport = 0x61;
constexpr std::uint8_t kDataCommand = 0x02, kFinishCommand = 0x10;
// The double rewrites the headset's whole state, its growing transfer log included, at every
// call: a 40 KiB image takes far longer through it than the headset's own pacing, and longer
// still on a loaded machine.
constexpr Millis kLargeImageTimeout{240000};

long long MillisBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration_cast<Millis>(to - from).count();
}

class UpgradeTest : public HeadsetWindowTest {
 protected:
  std::wstring BootVersionLine() const {
    return L"引导固件版本 " + Hex(SavedHeadset().config().bootVersion, 4) + L"\r\n";
  }
  // Presses 1002 and chooses `image` in the dialog that the first press of a run shows.
  void PressAndChoose(const std::wstring& image) const {
    main_.ClickButton(kUpgrade);
    ChooseInFileDialog(image);
  }
  static bool HasButton(const DialogView& box, int id) {
    for (const DialogView::Button& button : box.buttons) {
      if (button.id == id) return true;
    }
    return false;
  }
};

TEST_F(UpgradeTest, WritesTheChosenImageAndRebootsWhenConfirmed) {
  AdoptHeadset();
  const std::vector<std::uint8_t> image = PatternBytes(40 * 1024, 0x0B1A);
  const std::wstring path = TemporaryFile(L"obrint-ops-upgrade-40k.bin", image);

  const Clock::time_point pressed = Clock::now();
  main_.ClickButton(kUpgrade);
  ChooseInFileDialog(path);
  const Clock::time_point chosen = Clock::now();
  const DialogView reboot = WaitForBox(L"Reboot?", kLargeImageTimeout);
  const Clock::time_point asked = Clock::now();
  ASSERT_TRUE(reboot.window) << "no \"Reboot?\" box; caption " << Narrow(main_.Text());
  EXPECT_TRUE(reboot.HasText(L"Update"));
  EXPECT_TRUE(HasButton(reboot, IDYES) && HasButton(reboot, IDNO)) << "not a Yes/No box";

  // The whole image is in the boot firmware and verified, but nothing is flashed before Yes.
  EXPECT_EQ(Log(), BootVersionLine());
  {
    const sim::Headset headset = SavedHeadset();
    EXPECT_EQ(headset.firmware(), sim::Firmware::kBoot);
    EXPECT_TRUE(headset.bootTransfer().verified);
    EXPECT_EQ(headset.received(), image);
    EXPECT_TRUE(headset.flashed().empty());
  }

  ASSERT_TRUE(Answer(reboot, IDYES));
  ASSERT_TRUE(WaitFor([&] { return main_.Text() == L"Update OK!"; }, kCommandTimeout))
      << "caption " << Narrow(main_.Text());
  const Clock::time_point done = Clock::now();
  EXPECT_FALSE(OtherDialog()) << "a box followed the successful upgrade";
  EXPECT_EQ(Log(), BootVersionLine());
  EXPECT_FALSE(SaveScreenshot(L"ops_upgrade_update_ok", main_).empty());

  const sim::Headset headset = SavedHeadset();
  EXPECT_EQ(headset.flashed(), image);
  EXPECT_EQ(headset.restarts(), 2) << "into the boot firmware, and back after Reboot";

  const long long total = MillisBetween(pressed, done);
  const long long transfer = MillisBetween(chosen, asked);
  RecordProperty("press_to_update_ok_ms", static_cast<int>(total));
  RecordProperty("file_chosen_to_reboot_box_ms", static_cast<int>(transfer));
  std::printf(
      "40 KiB upgrade through the window: %lld ms from the press to \"Update OK!\" "
      "(%lld ms from the chosen file to the \"Reboot?\" box)\n",
      total, transfer);
}

TEST_F(UpgradeTest, ASecondPressReusesTheImageAndAHeadsetLeftInItsBootFirmware) {
  ChangeHeadset([](sim::Headset& headset) { headset.faults().wrongSumForBlock = 1; });
  AdoptHeadset();
  const std::vector<std::uint8_t> image = PatternBytes(300, 0x5EC0);
  PressAndChoose(TemporaryFile(L"obrint-ops-upgrade-retry.bin", image));
  DialogView failed = WaitForBox(L"升级失败。");
  ASSERT_TRUE(failed.window);
  ASSERT_TRUE(Answer(failed, IDOK));
  ChangeHeadset([](sim::Headset& headset) { headset.faults() = {}; });

  // No dialog this time; the headset, still in its boot firmware, does not answer the restart
  // probe and is written where it is.
  main_.ClickButton(kUpgrade);
  const DialogView reboot = WaitForBox(L"Reboot?");
  ASSERT_TRUE(reboot.window) << "no \"Reboot?\" box; caption " << Narrow(main_.Text());
  ASSERT_TRUE(Answer(reboot, IDYES));
  ASSERT_TRUE(WaitFor([&] { return main_.Text() == L"Update OK!"; }, kCommandTimeout))
      << "caption " << Narrow(main_.Text());
  const sim::Headset headset = SavedHeadset();
  EXPECT_EQ(headset.flashed(), image);
  EXPECT_EQ(headset.restarts(), 2) << "one restart into the boot firmware, one Reboot";
}

class UpgradeWrongBlockSumTest : public UpgradeTest {
 protected:
  void Configure(sim::Headset& headset) override { headset.faults().wrongSumForBlock = 2; }
};

TEST_F(UpgradeWrongBlockSumTest, StopsAtTheBlockAndReportsTheFailure) {
  AdoptHeadset();
  PressAndChoose(TemporaryFile(L"obrint-ops-upgrade-bad-sum.bin", PatternBytes(1000, 0xBAD5)));

  const DialogView failed = WaitForBox(L"升级失败。");
  ASSERT_TRUE(failed.window) << "no failure box; caption " << Narrow(main_.Text());
  EXPECT_TRUE(failed.HasText(L"Update"));
  EXPECT_TRUE(HasButton(failed, IDOK));
  EXPECT_EQ(main_.Text(), L"Update Err!");
  EXPECT_EQ(Log(), BootVersionLine());

  // Blocks 0 to 2 went out, and nothing after the block whose answer disagreed.
  const sim::Headset headset = SavedHeadset();
  int dataPackets = 0;
  for (const sim::TransferRecord& set : SetsOf(headset, kTransferReport)) {
    ASSERT_GE(set.bytes.size(), 4u);
    EXPECT_NE(set.bytes[3], kFinishCommand) << "the image was finished after a wrong block";
    if (set.bytes[3] == kDataCommand) ++dataPackets;
  }
  EXPECT_EQ(dataPackets, 3);
  EXPECT_TRUE(headset.flashed().empty());

  ASSERT_TRUE(Answer(failed, IDOK));
  EXPECT_FALSE(OtherDialog()) << "another box followed";
  EXPECT_EQ(main_.Text(), L"Update Err!");
}

TEST_F(UpgradeTest, RefusesAnImageTooLargeForTheBeginPacket) {
  AdoptHeadset();
  const std::wstring logBefore = Log();
  PressAndChoose(TemporaryFile(L"obrint-ops-upgrade-64k.bin", PatternBytes(65536, 0x6464)));

  const DialogView refused = WaitForBox(L"固件文件过大！");
  ASSERT_TRUE(refused.window) << "no refusal box; caption " << Narrow(main_.Text());
  EXPECT_TRUE(refused.HasText(L"Update"));
  EXPECT_EQ(main_.Text(), L"Update Err!");
  EXPECT_EQ(Log(), logBefore);
  ASSERT_TRUE(Answer(refused, IDOK));
  EXPECT_FALSE(OtherDialog()) << "another box followed the refusal";

  // Refused before the headset was touched: no restart into the boot firmware.
  const sim::Headset headset = SavedHeadset();
  EXPECT_EQ(headset.restarts(), 0);
  EXPECT_EQ(headset.firmware(), sim::Firmware::kApplication);
  EXPECT_TRUE(SetsOf(headset, 0x58).empty());
  EXPECT_TRUE(SetsOf(headset, 0x06).empty());
}

}  // namespace
}  // namespace obrint::gui::ops
