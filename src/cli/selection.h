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

// --port and --mcu-id: whether a headset is one of those given (any is, when none is given). An
// MCU ID that was not read is none of them.
bool Chosen(const std::vector<std::string>& usbPorts, const std::string& usbPort);
bool Chosen(const std::vector<McuId>& mcuIds, const std::optional<McuId>& mcuId);

// Every headset the options describe, in the platform's order, each read once. Failure::
// kNoHeadset when none, kNotHidDevice for a --device that is no interface of the vendor; `why`
// then gets the words for the message: the --device, or the headsets attached that --port and
// --mcu-id passed over.
Result<std::vector<Target>> SelectHeadsets(HidBus& bus, const Options& options,
                                           std::string* why = nullptr);
// The one headset `options` describe; nullopt, with the reply failed, when there is none, or
// several (Failure::kSeveralHeadsets, which lists them).
std::optional<Target> SelectHeadset(Context& context, const Options& options);

// "1-2.3 /dev/hidraw3 MCU ID …": a headset as the messages name it.
std::string Describe(const Target& target);

}  // namespace obrint::cli
