// Button 1006 "设置运行模式" and the Mode controls on the running program: the radio buttons
// show the simulated headset's run mode after a device event, and the selected mode is written
// into the headset, which then restarts.
#include <chrono>

#include "ops_support.h"

namespace obrint::gui::ops {
namespace {

constexpr std::uint8_t kDk1Mode = 0xFE, kDk2Mode = 0xFD;
constexpr std::uint8_t kRunModeReport = 0x59, kRestartReport = 0x58;

// Enabled state of 1006, 1007, 1008 and the checks of 1008 (DK1) and 1007 (DK2).
struct ModeState {
  bool runModeEnabled, dk2Enabled, dk1Enabled, dk1Checked, dk2Checked;
  bool operator==(const ModeState&) const = default;
};
constexpr ModeState kUntouched{false, false, false, false, false};
constexpr ModeState kDk2Shown{true, true, true, false, true};
constexpr ModeState kDk1Shown{true, true, true, true, false};

std::ostream& operator<<(std::ostream& out, const ModeState& s) {
  return out << "{1006 " << (s.runModeEnabled ? "on" : "off") << ", DK2 "
             << (s.dk2Enabled ? "on" : "off") << (s.dk2Checked ? " checked" : "") << ", DK1 "
             << (s.dk1Enabled ? "on" : "off") << (s.dk1Checked ? " checked" : "") << "}";
}

class RunModeTest : public HeadsetWindowTest {
 protected:
  ModeState Mode() const {
    return {main_.Child(kRunMode).IsEnabled(), main_.Child(kDk2).IsEnabled(),
            main_.Child(kDk1).IsEnabled(), main_.Child(kDk1).IsChecked(),
            main_.Child(kDk2).IsChecked()};
  }
  // A click on a radio button, as the user makes it.
  void Select(int radio) const { main_.Child(radio).Send(BM_CLICK, 0, 0); }

  // Presses 1006 and waits until the command has emptied the Status log. The log is read
  // between the window's messages, so the command has then ended or waits in a message box.
  void PressRunMode() const {
    ASSERT_NE(Log(), L"\r\n");
    main_.ClickButton(kRunMode);
    ASSERT_TRUE(WaitFor([&] { return Log() == L"\r\n"; }, kCommandTimeout))
        << "the Status log holds " << Narrow(Log());
  }
};

TEST_F(RunModeTest, SelectingDk1WritesItAndRestartsTheHeadset) {
  AdoptHeadset();
  ASSERT_EQ(Mode(), kDk2Shown);
  Select(kDk1);
  ASSERT_EQ(Mode(), kDk1Shown) << "the click did not select DK1";

  const auto pressed = std::chrono::steady_clock::now();
  PressRunMode();
  const auto ended = std::chrono::steady_clock::now();
  EXPECT_EQ(Log(), L"\r\n");
  EXPECT_FALSE(OtherDialog()) << "a successful switch showed a box";
  EXPECT_EQ(Mode(), kDk1Shown);
  EXPECT_GE(ended - pressed, Millis(3000)) << "the command did not wait for the restart";

  const sim::Headset headset = SavedHeadset();
  EXPECT_EQ(headset.runMode(), kDk1Mode);
  const std::vector<sim::TransferRecord> modeSets = SetsOf(headset, kRunModeReport);
  ASSERT_EQ(modeSets.size(), 1u);
  EXPECT_EQ(modeSets[0].bytes, (std::vector<std::uint8_t>{0x59, 0x01, 0x00, kDk1Mode}));
  const std::vector<sim::TransferRecord> restarts = SetsOf(headset, kRestartReport);
  ASSERT_EQ(restarts.size(), 1u);
  EXPECT_EQ(restarts[0].bytes, (std::vector<std::uint8_t>{0x58, 0x01, 0x00, 0x00}));
  EXPECT_EQ(headset.restarts(), 1);

  // The headset is back in the new mode: the next device event shows what it reports, whatever
  // the radio buttons said before.
  Select(kDk2);
  ASSERT_EQ(Mode(), kDk2Shown);
  AdoptHeadset();
  EXPECT_EQ(Mode(), kDk1Shown);
  EXPECT_EQ(SavedHeadset().activeRunMode(), kDk1Mode);
}

TEST_F(RunModeTest, ARefusedWriteShowsTheFailureAndDoesNotRestart) {
  AdoptHeadset();
  ChangeHeadset([](sim::Headset& headset) { headset.faults().refusedReports = {kRunModeReport}; });
  Select(kDk1);
  ASSERT_EQ(Mode(), kDk1Shown);

  PressRunMode();
  const DialogView failed = WaitForBox(L"模式切换失败！");
  ASSERT_TRUE(failed.window) << "no failure box";
  EXPECT_TRUE(failed.HasText(L"Mode"));
  EXPECT_EQ(Log(), L"\r\n");
  EXPECT_FALSE(main_.Child(kRunMode).IsEnabled()) << "1006 is enabled while the command runs";
  ASSERT_TRUE(Answer(failed, IDOK));
  EXPECT_TRUE(WaitFor([&] { return main_.Child(kRunMode).IsEnabled(); }))
      << "1006 stayed disabled after the command";
  EXPECT_EQ(Mode(), kDk1Shown);

  // One try at DK1, no fallback to DK2, and no restart.
  const sim::Headset headset = SavedHeadset();
  const std::vector<sim::TransferRecord> modeSets = SetsOf(headset, kRunModeReport);
  ASSERT_EQ(modeSets.size(), 1u);
  EXPECT_EQ(modeSets[0].bytes.at(3), kDk1Mode);
  EXPECT_FALSE(modeSets[0].ok);
  EXPECT_TRUE(SetsOf(headset, kRestartReport).empty());
  EXPECT_EQ(headset.restarts(), 0);
  EXPECT_EQ(headset.runMode(), kDk2Mode);
}

TEST_F(RunModeTest, AnUnpluggedHeadsetOnlyEmptiesTheStatusLog) {
  AdoptHeadset();
  ASSERT_EQ(Mode(), kDk2Shown);
  ChangeHeadset([](sim::Headset& headset) { headset.Unplug(); });

  PressRunMode();
  EXPECT_FALSE(OtherDialog()) << "the command showed a box";
  EXPECT_TRUE(WaitFor([&] { return main_.Child(kRunMode).IsEnabled(); }));
  EXPECT_EQ(Mode(), kDk2Shown);
  EXPECT_TRUE(SetsOf(SavedHeadset(), kRunModeReport).empty());
}

class RunModeOldFirmwareTest : public RunModeTest {
 protected:
  void Configure(sim::Headset& headset) override {
    headset.config().applicationVersion = 0x0024;
    headset.config().runMode = kDk1Mode;
  }
};

TEST_F(RunModeOldFirmwareTest, FirmwareBefore0025KeepsTheModeControlsOff) {
  AdoptHeadset();
  EXPECT_EQ(Mode(), kUntouched);
}

// The run mode that the headset reports at its arrival, and the radio button checked for it.
struct ShownMode {
  std::uint8_t reported;
  ModeState shown;
};

class RunModeShownTest : public RunModeTest, public ::testing::WithParamInterface<ShownMode> {
 protected:
  void Configure(sim::Headset& headset) override { headset.config().runMode = GetParam().reported; }
};

TEST_P(RunModeShownTest, TheRadioButtonsShowTheHeadsetsRunMode) {
  ASSERT_EQ(Mode(), kUntouched) << "the Mode controls were set before any device event";
  AdoptHeadset();
  EXPECT_EQ(Mode(), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(Modes, RunModeShownTest,
                         ::testing::Values(ShownMode{kDk1Mode, kDk1Shown},
                                           ShownMode{kDk2Mode, kDk2Shown},
                                           ShownMode{0x00, kDk2Shown}));

}  // namespace
}  // namespace obrint::gui::ops
