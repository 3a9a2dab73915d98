#include "core/run_mode.h"

namespace obrint {

void RefreshModeControls(HidLink& link, ModeControls& controls, const HeadsetLocation& location) {
  const RunModeReading reading = ReadRunMode(link, location.devicePath);
  if (reading.status == RunModeStatus::kNotOpened) return;
  controls.EnableModeControls(false);
  controls.SetModeChecks(false, false);
  if (reading.status == RunModeStatus::kRead) {
    const bool dk1 = reading.mode == RunMode::kDk1;
    controls.SetModeChecks(dk1, !dk1);
    controls.EnableModeControls(true);
  }
}

RunModeOutcome SetRunMode(HidLink& link, Clock& clock, UserInterface& ui, ModeControls& controls,
                          const HeadsetLocation& location) {
  controls.EnableRunModeButton(false);
  ui.ShowStatus("\r\n");
  RunModeWrite written = RunModeWrite::kRefused;
  if (controls.IsDk1Checked()) {
    written = WriteRunMode(link, clock, location.devicePath, RunMode::kDk1);
  } else if (controls.IsDk2Checked()) {
    written = WriteRunMode(link, clock, location.devicePath, RunMode::kDk2);
  } else if (!link.OpenHidDevice(location.devicePath)) {
    // Nothing to write: only whether the headset opens decides about the failure box.
    written = RunModeWrite::kNotOpened;
  }
  if (written == RunModeWrite::kRefused) ui.ShowWindowBox("Mode", "模式切换失败！", kBoxOk);
  controls.EnableRunModeButton(true);
  switch (written) {
    case RunModeWrite::kNotOpened:
      return RunModeOutcome::kNotOpened;
    case RunModeWrite::kWritten:
      return RunModeOutcome::kSwitched;
    case RunModeWrite::kRefused:
      break;
  }
  return RunModeOutcome::kFailed;
}

}  // namespace obrint
