// The window's Mode controls and the command behind "设置运行模式".
#pragma once

#include "device/clock.h"
#include "device/failure.h"
#include "device/hid_bus.h"
#include "presenters/window.h"

namespace obrint::presenters {

// Sets the Mode controls from the headset: the radio button of its run mode checked and all
// three enabled, or all disabled and unchecked when the firmware has no run mode or a read
// fails. When the Device path does not open, the controls are left as they were.
void ShowRunMode(HidBus& bus, ModeControls& controls, const HeadsetLocation& location);

// Writes the checked mode (DK1 when both are) and waits for the restart; button 1006 is disabled
// while it runs. Failure::kNotOpened (nothing shown) when the Device path does not open;
// kRunModeRefused, with the failure box, when the mode was refused or none was selected.
Status SetRunMode(HidBus& bus, Clock& clock, UserInterface& ui, ModeControls& controls,
                  const HeadsetLocation& location);

}  // namespace obrint::presenters
