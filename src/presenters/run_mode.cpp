#include "presenters/run_mode.h"

#include "device/headset.h"

namespace obrint::presenters {

void ShowRunMode(HidBus& bus, ModeControls& controls, const HeadsetLocation& location) {
  const Result<RunModeState> state = ReadHeadsetRunMode(bus, location.devicePath);
  if (!state && state.failure() == Failure::kNotOpened) return;
  controls.EnableModeControls(false);
  controls.SetModeChecks(false, false);
  if (state && state->mode) {
    const bool dk1 = *state->mode == RunMode::kDk1;
    controls.SetModeChecks(dk1, !dk1);
    controls.EnableModeControls(true);
  }
}

Status SetRunMode(HidBus& bus, Clock& clock, UserInterface& ui, ModeControls& controls,
                  const HeadsetLocation& location) {
  controls.EnableRunModeButton(false);
  ui.ShowStatus("\r\n");
  Status switched = Failure::kRunModeRefused;
  if (controls.IsDk1Checked()) {
    switched = SwitchRunMode(bus, clock, location.devicePath, RunMode::kDk1);
  } else if (controls.IsDk2Checked()) {
    switched = SwitchRunMode(bus, clock, location.devicePath, RunMode::kDk2);
  } else if (!OpenHeadset(bus, location.devicePath)) {
    // Nothing to write: only whether the headset opens decides about the failure box.
    switched = Failure::kNotOpened;
  }
  if (!switched && switched.failure() == Failure::kRunModeRefused) {
    ui.ShowWindowBox("Mode", "模式切换失败！", kBoxOk);
  }
  controls.EnableRunModeButton(true);
  return switched;
}

}  // namespace obrint::presenters
