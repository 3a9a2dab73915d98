// Which headsets a command talks to: --device as given, else the attached headsets of the vendor
// (and product), narrowed by --port and --mcu-id. A command for one headset never guesses between
// several.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/command.h"
#include "device/headset.h"
#include "device/hid_bus.h"

namespace obrint::cli {

// A headset as found: its interface and what it told of itself.
struct Target {
  HidInterface interface;
  HeadsetInfo info;  // read where it answers
};

// Every headset the options describe, in the platform's order, each read once. Failure::
// kNoHeadset when none, kNotHidDevice for a --device that is no interface of the vendor.
Result<std::vector<Target>> SelectHeadsets(HidBus& bus, const Options& options);
// The one headset `options` describe; nullopt, with the reply failed, when there is none, or
// several (Failure::kSeveralHeadsets, which lists them).
std::optional<Target> SelectHeadset(Context& context, const Options& options);

// "1-2.3 /dev/hidraw3 MCU ID …": a headset as the messages name it.
std::string Describe(const Target& target);

}  // namespace obrint::cli
