#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "core/run_mode.h"
#include "native/fakes/fake_mode_controls.h"
#include "native/fakes/fake_ui.h"
#include "sim/headset_sim.h"

namespace obrint {
namespace {

using fakes::Box;
using fakes::ModeControlState;
using sim::TransferRecord;

const ModeControlState kAllOff{};
const ModeControlState kDk1Shown{true, true, true, true, false};
const ModeControlState kDk2Shown{true, true, true, false, true};
const Box kSwitchFailed{"Mode", "模式切换失败！", 0};

class RunModeTest : public ::testing::Test {
 protected:
  RunModeTest() { location.devicePath = headset.interfacePath(); }

  void Refresh() { RefreshModeControls(link, controls, location); }
  RunModeOutcome Set() { return SetRunMode(link, clock, ui, controls, location); }
  void UseHeadset(sim::HeadsetConfig config) {
    headset = sim::Headset(config);
    location.devicePath = headset.interfacePath();
  }
  void ExpectReleased() {
    EXPECT_EQ(link.openHandles(), 0);
    EXPECT_FALSE(link.bound());
    EXPECT_EQ(link.loads(), link.frees());
  }
  std::vector<std::vector<std::uint8_t>> Sets() const {
    std::vector<std::vector<std::uint8_t>> sets;
    for (const auto& r : headset.log()) {
      if (r.direction == TransferRecord::Direction::kSet) sets.push_back(r.bytes);
    }
    return sets;
  }
  bool ReadReport(std::uint8_t id) const {
    for (const auto& r : headset.log()) {
      if (r.direction == TransferRecord::Direction::kGet && r.reportId == id) return true;
    }
    return false;
  }

  sim::Headset headset;
  sim::SimHidLink link{headset};
  sim::SimClock clock{headset};
  fakes::FakeUserInterface ui;
  fakes::FakeModeControls controls;
  HeadsetLocation location;
};

TEST_F(RunModeTest, OldFirmwareHasNoModeControls) {
  UseHeadset({.applicationVersion = 0x0024, .runMode = 0xFE});
  controls.state = kDk1Shown;
  Refresh();
  EXPECT_EQ(controls.state, kAllOff);
  EXPECT_FALSE(ReadReport(0x59));
  ExpectReleased();
}

TEST_F(RunModeTest, ModeFromTheHeadsetIsChecked) {
  UseHeadset({.applicationVersion = 0x0025, .runMode = 0xFE});
  Refresh();
  EXPECT_EQ(controls.state, kDk1Shown);
  // Any value but 0xFE reads as DK2-compatible.
  for (std::uint8_t mode : {0xFD, 0x00, 0xFF, 0x01}) {
    UseHeadset({.applicationVersion = 0x0025, .runMode = mode});
    controls.state = kDk1Shown;
    Refresh();
    EXPECT_EQ(controls.state, kDk2Shown) << int{mode};
  }
  UseHeadset({.applicationVersion = 0x0100, .runMode = 0xFE});
  Refresh();
  EXPECT_EQ(controls.state, kDk1Shown);
  ExpectReleased();
}

TEST_F(RunModeTest, ControlsAreClearedBeforeTheHeadsetIsAsked) {
  controls.state = kDk1Shown;
  Refresh();
  ASSERT_GE(controls.history.size(), 2u);
  EXPECT_FALSE(controls.history[0].buttonEnabled);
  EXPECT_EQ(controls.history[1], kAllOff);
  EXPECT_EQ(controls.state, kDk2Shown);
}

TEST_F(RunModeTest, UnreadableReportsLeaveTheControlsOff) {
  for (std::uint8_t refused : {0x5F, 0x59}) {
    headset.faults().refusedReports = {refused};
    controls.state = kDk2Shown;
    Refresh();
    EXPECT_EQ(controls.state, kAllOff) << int{refused};
    ExpectReleased();
  }
  // The boot firmware serves no run mode.
  UseHeadset({.bootVersion = 0x0200, .startIn = sim::Firmware::kBoot});
  controls.state = kDk2Shown;
  Refresh();
  EXPECT_EQ(controls.state, kAllOff);
}

TEST_F(RunModeTest, UnopenableHeadsetLeavesTheControlsAsTheyWere) {
  controls.state = kDk1Shown;
  headset.Unplug();
  Refresh();
  location.devicePath.clear();
  Refresh();
  EXPECT_EQ(controls.state, kDk1Shown);
  EXPECT_TRUE(controls.history.empty());
  EXPECT_EQ(link.loads(), 0);
}

TEST_F(RunModeTest, SwitchWritesTheModeRestartsAndWaits) {
  controls.state = kDk1Shown;
  EXPECT_EQ(Set(), RunModeOutcome::kSwitched);
  EXPECT_EQ(Sets(), (std::vector<std::vector<std::uint8_t>>{{0x59, 0x01, 0x00, 0xFE},
                                                            {0x58, 0x01, 0x00, 0x00}}));
  EXPECT_EQ(clock.waits(), std::vector<unsigned>{3000});
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_EQ(ui.statusHistory, std::vector<std::string>{"\r\n"});
  EXPECT_TRUE(controls.state.buttonEnabled);
  EXPECT_FALSE(controls.history.front().buttonEnabled);
  ExpectReleased();

  // Back after its restart, the headset runs and reports the new mode.
  location.devicePath = headset.interfacePath();
  EXPECT_EQ(headset.activeRunMode(), 0xFE);
  controls.state = kAllOff;
  Refresh();
  EXPECT_EQ(controls.state, kDk1Shown);
}

TEST_F(RunModeTest, Dk2IsWrittenAsFd) {
  UseHeadset({.runMode = 0xFE});
  controls.state = kDk2Shown;
  EXPECT_EQ(Set(), RunModeOutcome::kSwitched);
  EXPECT_EQ(Sets().front(), (std::vector<std::uint8_t>{0x59, 0x01, 0x00, 0xFD}));
  EXPECT_EQ(headset.runMode(), 0xFD);
}

TEST_F(RunModeTest, RefusedDk1IsNotRetriedAsDk2) {
  headset.faults().refusedReports = {0x59};
  controls.state = kDk1Shown;
  controls.state.dk2Checked = true;  // even with both checked, DK1 alone is tried
  ui.onBox = [this](const Box&) { EXPECT_FALSE(controls.state.buttonEnabled); };
  EXPECT_EQ(Set(), RunModeOutcome::kFailed);
  EXPECT_EQ(Sets(), (std::vector<std::vector<std::uint8_t>>{{0x59, 0x01, 0x00, 0xFE}}));
  EXPECT_EQ(ui.boxes, std::vector<Box>{kSwitchFailed});
  EXPECT_TRUE(clock.waits().empty());
  EXPECT_EQ(headset.restarts(), 0);
  EXPECT_TRUE(controls.state.buttonEnabled);
  ExpectReleased();
}

TEST_F(RunModeTest, NothingCheckedFailsWithoutTouchingTheHeadset) {
  controls.state = kAllOff;
  controls.state.buttonEnabled = true;
  EXPECT_EQ(Set(), RunModeOutcome::kFailed);
  EXPECT_TRUE(headset.log().empty());
  EXPECT_EQ(ui.boxes, std::vector<Box>{kSwitchFailed});
  ExpectReleased();
}

TEST_F(RunModeTest, RefusedRestartStillCountsAsSwitched) {
  headset.faults().refusedReports = {0x58, 0x06};
  controls.state = kDk2Shown;
  EXPECT_EQ(Set(), RunModeOutcome::kSwitched);
  EXPECT_EQ(Sets().size(), 3u);  // the mode, then the restart under 0x58 and under 6
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_EQ(clock.waits(), std::vector<unsigned>{3000});
}

TEST_F(RunModeTest, UnpluggedHeadsetOnlyEmptiesTheStatusLog) {
  controls.state = kDk1Shown;
  headset.Unplug();
  EXPECT_EQ(Set(), RunModeOutcome::kNotOpened);
  EXPECT_EQ(ui.statusHistory, std::vector<std::string>{"\r\n"});
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_TRUE(clock.waits().empty());
  EXPECT_EQ(controls.state, kDk1Shown);
  EXPECT_EQ(link.loads(), 0);
}

}  // namespace
}  // namespace obrint
