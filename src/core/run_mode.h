// The headset's run mode (DK1- or DK2-compatible): showing it in the Mode controls and writing it.
#pragma once

#include <cstdint>

#include "core/ports.h"

namespace obrint {

// The lowest firmware version that has a run mode.
inline constexpr std::uint16_t kMinRunModeVersion = 0x0025;

// Reads the headset's version and run mode and sets the Mode controls: the radio button of the
// mode checked and all three enabled, or all disabled and unchecked when the firmware has no run
// mode or a read fails. When the Device path does not open, the controls are left as they were.
void RefreshModeControls(HidLink& link, ModeControls& controls, const HeadsetLocation& location);

enum class RunModeOutcome : std::uint8_t {
  kNotOpened,  // the Device path did not open; nothing shown
  kSwitched,   // the mode was written and the headset told to restart
  kFailed,     // the mode was refused or none was selected; the failure box was shown
};

// The command behind "设置运行模式": writes the checked mode into the headset and restarts it,
// then gives it 3000 ms to come back. Button 1006 is disabled while it runs.
RunModeOutcome SetRunMode(HidLink& link, Clock& clock, UserInterface& ui, ModeControls& controls,
                          const HeadsetLocation& location);

}  // namespace obrint
