// The window's other headset commands on the data layer: device info, the Mode controls and the
// run-mode switch. (Stamping: the stamp fuzz target's oracle, replayed over its corpus.)
#include <gtest/gtest.h>

#include "presenters/device_info.h"
#include "presenters/run_mode.h"
#include "native/fakes.h"
#include "native/reference.h"
#include "sim/headset_sim.h"

namespace obrint::presenters {
namespace {

using fakes::Box;
using fakes::ModeState;
using reference::Bytes;

class HeadsetOpsTest : public ::testing::Test {
 protected:
  void ExpectReleased() {
    EXPECT_EQ(bus.openHandles(), 0);
    EXPECT_FALSE(bus.bound());
    EXPECT_EQ(bus.loads(), bus.frees());
  }
  sim::Headset headset;
  sim::SimBus bus{headset};
  sim::SimClock clock{headset};
  fakes::FakeUserInterface ui;
  fakes::FakeModeControls controls;
  HeadsetLocation location{headset.interfacePath()};
};

TEST_F(HeadsetOpsTest, DeviceInfoShowsVersionAndMcuIdInTheirByteOrder) {
  const std::array<std::uint8_t, 12> id = {0x9A, 0x10, 0, 0xF3, 0x42, 7,
                                           0xC1, 0x5E, 0, 1,    0xFF, 0x80};
  struct Row {
    std::vector<std::uint8_t> refused;
    bool unplugged;
    std::string line;
  };
  const std::string version = "0A31", mcuId = reference::McuIdText(id);
  // clang-format off
  for (const Row& row : std::vector<Row>{
           {{}, false, "版本信息 " + version + ":" + mcuId + "\r\n"},
           {{0x5F}, false, "版本信息 0:" + mcuId + "\r\n"},
           {{0x5F, 0x60}, false, "版本信息 0:0\r\n"},
           {{}, true, ""},
       }) {  // clang-format on
    headset = sim::Headset({.applicationVersion = 0x0A31, .mcuId = id});
    headset.faults().refusedReports = row.refused;
    if (row.unplugged) headset.Unplug();
    ui = {};
    EXPECT_EQ(ReadDeviceInfo(bus, ui, location), row.line);
    std::vector<std::string> shown = {"\r\n"};
    if (!row.line.empty()) shown.push_back(row.line);
    EXPECT_EQ(ui.status, shown);
    EXPECT_TRUE(ui.boxes.empty());
    ExpectReleased();
  }
  ui = {};
  EXPECT_EQ(ReadDeviceInfo(bus, ui, HeadsetLocation{}), "");
  EXPECT_EQ(bus.failedOpens(), 1) << "an empty path is not even tried";
}

TEST_F(HeadsetOpsTest, ModeControlsFollowVersionAndRunMode) {
  const ModeState off{}, dk1{true, true, true, true, false}, dk2{true, true, true, false, true};
  const ModeState was{false, false, false, true, false};  // disabled, DK1 still checked
  struct Row {
    std::uint16_t version;
    std::uint8_t mode;
    std::vector<std::uint8_t> refused;
    std::vector<ModeState> history;
  };
  // clang-format off
  for (const Row& row : std::vector<Row>{
           {0x0025, 0xFE, {}, {was, off, was, dk1}},
           {0x0031, 0xFD, {}, {was, off, {false, false, false, false, true}, dk2}},
           {0x0031, 0x00, {}, {was, off, {false, false, false, false, true}, dk2}},
           {0x0024, 0xFE, {}, {was, off}},
           {0x0031, 0xFE, {0x59}, {was, off}},
           {0x0031, 0xFE, {0x5F}, {was, off}},
       }) {  // clang-format on
    headset = sim::Headset({.applicationVersion = row.version, .runMode = row.mode});
    headset.faults().refusedReports = row.refused;
    controls = {};
    controls.state = dk1;  // what an earlier refresh left
    ShowRunMode(bus, controls, location);
    EXPECT_EQ(controls.history, row.history) << std::hex << row.version << " " << +row.mode;
    ExpectReleased();
  }
  headset.Unplug();
  controls = {};
  ShowRunMode(bus, controls, location);
  EXPECT_TRUE(controls.history.empty()) << "left as they were when the headset does not open";
}

TEST_F(HeadsetOpsTest, SetRunModeWritesRestartsAndWaits) {
  const Box kFailedBox{"Mode", "模式切换失败！", kBoxOk};
  constexpr auto kSet = sim::TransferRecord::Direction::kSet;
  const Status kSwitched, kFailed(Failure::kRunModeRefused), kNotOpened(Failure::kNotOpened);
  struct Row {
    bool dk1, dk2;
    std::vector<std::uint8_t> refused;
    bool unplugged;
    Status outcome;
    std::vector<Bytes> sets;
    std::vector<unsigned> waits;
  };
  // clang-format off
  for (const Row& row : std::vector<Row>{
           {true, false, {}, false, kSwitched, {{0x59, 1, 0, 0xFE}, {0x58, 1, 0, 0}}, {3000}},
           {false, true, {}, false, kSwitched, {{0x59, 1, 0, 0xFD}, {0x58, 1, 0, 0}}, {3000}},
           {true, true, {0x59}, false, kFailed, {{0x59, 1, 0, 0xFE}}, {}},
           {false, false, {}, false, kFailed, {}, {}},
           {true, false, {}, true, kNotOpened, {}, {}},
       }) {  // clang-format on
    headset = sim::Headset();
    headset.faults().refusedReports = row.refused;
    if (row.unplugged) headset.Unplug();
    ui = {};
    controls = {};
    controls.state = {true, true, true, row.dk1, row.dk2};
    const std::size_t waited = clock.waits().size();
    ui.onBox = [&](const Box&) { EXPECT_FALSE(controls.state.button); };
    EXPECT_EQ(SetRunMode(bus, clock, ui, controls, location), row.outcome);
    std::vector<Bytes> sets;
    for (const auto& r : headset.log()) sets.insert(sets.end(), r.direction == kSet, r.bytes);
    EXPECT_EQ(sets, row.sets) << "a refused DK1 is not retried as DK2";
    EXPECT_EQ(std::vector<unsigned>(clock.waits().begin() + waited, clock.waits().end()),
              row.waits);
    EXPECT_EQ(ui.boxes, row.outcome == kFailed ? std::vector<Box>{kFailedBox} : std::vector<Box>{});
    EXPECT_EQ(ui.status, std::vector<std::string>{"\r\n"});
    EXPECT_FALSE(controls.history.front().button);
    EXPECT_TRUE(controls.state.button);
    ExpectReleased();
  }
}

}  // namespace
}  // namespace obrint::presenters
