#include "core/run_mode.h"

#include "core/reports.h"

namespace obrint {
namespace {

// Time the headset needs to restart into the mode just written.
constexpr unsigned kRestartWaitMs = 3000;

bool WriteRunMode(HidDevice& device, std::uint8_t mode) {
  if (!SetReport59(device, mode)) return false;
  // The restart makes the mode take effect; its result does not change the outcome.
  SetReport58(device, 0);
  return true;
}

}  // namespace

void RefreshModeControls(HidLink& link, ModeControls& controls, const HeadsetLocation& location) {
  std::unique_ptr<HidDevice> device = link.OpenHidDevice(location.devicePath);
  if (!device) return;
  link.LoadHidLibrary();
  controls.EnableModeControls(false);
  controls.SetModeChecks(false, false);

  ReportBuffer aBuf{};
  if (GetReport5F(*device, aBuf) && ReadLe16(&aBuf[3]) >= kMinRunModeVersion &&
      GetReport59(*device, aBuf)) {
    const bool dk1 = aBuf[3] == kRunModeDk1;
    controls.SetModeChecks(dk1, !dk1);
    controls.EnableModeControls(true);
  }
  link.FreeHidLibrary();
  device.reset();
}

RunModeOutcome SetRunMode(HidLink& link, Clock& clock, UserInterface& ui, ModeControls& controls,
                          const HeadsetLocation& location) {
  controls.EnableRunModeButton(false);
  ui.ShowStatus("\r\n");
  std::unique_ptr<HidDevice> device = link.OpenHidDevice(location.devicePath);
  if (!device) {
    controls.EnableRunModeButton(true);
    return RunModeOutcome::kNotOpened;
  }
  link.LoadHidLibrary();
  bool switched = false;
  // DK1 wins when it is checked, even if writing it fails.
  if (controls.IsDk1Checked()) {
    switched = WriteRunMode(*device, kRunModeDk1);
  } else if (controls.IsDk2Checked()) {
    switched = WriteRunMode(*device, kRunModeDk2);
  }
  link.FreeHidLibrary();
  device.reset();

  if (switched) {
    clock.Sleep(kRestartWaitMs);
  } else {
    ui.ShowWindowBox("Mode", "模式切换失败！", kBoxOk);
  }
  controls.EnableRunModeButton(true);
  return switched ? RunModeOutcome::kSwitched : RunModeOutcome::kFailed;
}

}  // namespace obrint
