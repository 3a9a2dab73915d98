// The window's Mode controls and the command behind "设置运行模式", on the data layer's
// ReadRunMode and WriteRunMode (headset.h).
#pragma once

#include <cstdint>

#include "core/headset.h"
#include "core/ports.h"

namespace obrint {

// Sets the Mode controls from the headset: the radio button of its run mode checked and all
// three enabled, or all disabled and unchecked when the firmware has no run mode or a read
// fails. When the Device path does not open, the controls are left as they were.
void RefreshModeControls(HidLink& link, ModeControls& controls, const HeadsetLocation& location);

enum class RunModeOutcome : std::uint8_t {
  kNotOpened,  // the Device path did not open; nothing shown
  kSwitched,   // the mode was written and the headset told to restart
  kFailed,     // the mode was refused or none was selected; the failure box was shown
};

// Writes the checked mode (DK1 when both are) and waits for the restart. Button 1006 is disabled
// while it runs.
RunModeOutcome SetRunMode(HidLink& link, Clock& clock, UserInterface& ui, ModeControls& controls,
                          const HeadsetLocation& location);

}  // namespace obrint
