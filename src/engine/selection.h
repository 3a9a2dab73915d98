// Which headsets a command or a station talks to: a path as given, else the attached headsets of
// the vendor (and product), narrowed by USB ports and MCU IDs. A choice of one headset never
// guesses between several.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device/headset.h"
#include "device/hid_bus.h"

namespace obrint::engine {

// A headset as found: its interface and what it told of itself.
struct Target {
  HidInterface interface;
  HeadsetInfo info;  // read where it answers
};

struct Selection {
  std::string device;  // one interface's path, no search
  std::optional<std::uint16_t> vid, pid;
  // Any of these ports and MCU IDs; none given: any.
  std::vector<std::string> usbPorts;
  std::vector<McuId> mcuIds;
};

// Whether a headset is one of those given (any, when none is); an MCU ID not read is none.
bool Chosen(const std::vector<std::string>& usbPorts, const std::string& usbPort);
bool Chosen(const std::vector<McuId>& mcuIds, const std::optional<McuId>& mcuId);

// Every headset the selection describes, in the platform's order, each read once. kNoHeadset when
// none, kNotHidDevice for a device that is no interface of the vendor; `why` then names the
// device, or the headsets that the ports and MCU IDs passed over.
Result<std::vector<Target>> SelectHeadsets(HidBus& bus, const Selection& selection,
                                           std::string* why = nullptr);
// The one headset the selection describes; Failure::kSeveralHeadsets, with `why` listing them,
// where several do.
Result<Target> SelectHeadset(HidBus& bus, const Selection& selection, std::string* why = nullptr);

// The same headset as `target` after a restart: found again by its port and MCU ID.
Selection SameHeadset(const Selection& selection, const Target& target);
// A vendor or product ID in hexadecimal, a 0x prefix allowed; nullopt for anything else.
std::optional<std::uint16_t> ParseUsbId(std::string_view text);

// "port 1-2.3  /dev/hidraw3  MCU ID …": a headset as the messages name it.
std::string Describe(const Target& target);
// A headset's row or line in the output: its USB port, or where the platform tells none, "#n".
std::string RowName(const std::string& usbPort, std::size_t n);

}  // namespace obrint::engine
