// What a device interface name tells about its device: the device instance ID, the enumerator,
// and the USB vendor and product IDs at their fixed places.
//
// Every function here reads only within the given text: a name of another shape simply yields
// nothing (no ID, not the headset's). Case mapping touches ASCII letters only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace obrint {

// The device instance ID that SetupDiGetDeviceInstanceId gives for the interface's device: the
// name without its \\?\ prefix, cut at its last '#', each '#' turned into '\', upper-cased:
//   \\?\hid#vid_2833&pid_0021#7&1a2b3c&0&0000#{...}  ->  HID\VID_2833&PID_0021\7&1A2B3C&0&0000
// nullopt when that would be empty or the part that becomes the ID already holds a '\' (the ID's
// separators would then not be the name's).
std::optional<std::string> DeviceInstanceIdFromInterfaceName(std::string_view name);

// The enumerator of a device instance ID: the text before its first '\' (the whole ID when it
// has none). "HID\VID_2833&PID_0021\7&1A2B3C&0&0000" -> "HID".
std::string_view EnumeratorOf(std::string_view instanceId);

// The enumerator whose devices are not physical ones and are never looked up.
inline constexpr std::string_view kRootEnumerator = "ROOT";

// The interface name template \\?\USB#VID_XXXX&PID_XXXX: its length, and where the vendor and
// product IDs start. The enumerator word is not compared, so a HID name reads the same way.
inline constexpr std::size_t kInterfaceNameTemplateLength = 25;
inline constexpr std::size_t kVendorIdOffset = 12;
inline constexpr std::size_t kProductIdOffset = 21;

// Reads the vendor and product IDs at their offsets, each as 1 to 4 hexadecimal digits (no blank,
// sign or "0x" skipped: "0x28" reads as 0), and answers IsHeadsetVendor(vendor ID). False, with
// vid and pid untouched, when the name is not longer than the template or either field does not
// start with a hexadecimal digit.
bool ParseVidPid(std::string_view name, std::uint16_t& vid, std::uint16_t& pid);

// True for the headset's USB vendor ID, 0x2833.
bool IsHeadsetVendor(std::uint16_t vid);

}  // namespace obrint
