// What a device interface name tells about its device: the device instance ID, the enumerator,
// and the USB vendor and product IDs at their fixed places.
//
// An interface name as the platform reports it looks like
//   \\?\HID#VID_2833&PID_0021#7&1a2b3c&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}
// Every function here reads only within the given text and never fails loudly: a name of another
// shape simply yields nothing (no ID, not the headset's). Names are ASCII; case mapping touches
// ASCII letters only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace obrint {

// The device instance ID that SetupDiGetDeviceInstanceId gives for the interface's device: the
// name without its first 4 characters (the \\?\ prefix), cut at its last '#' (the interface class
// GUID goes), each '#' turned into '\', upper-cased:
//   \\?\hid#vid_2833&pid_0021#7&1a2b3c&0&0000#{...}  ->  HID\VID_2833&PID_0021\7&1A2B3C&0&0000
// nullopt, and nothing derived, when the name has 4 characters or fewer, has no '#' after its
// first 4, would give an empty ID, or already holds a '\' in the part that becomes the ID (the
// ID's separators would then not be the name's).
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

// Reads the vendor ID from index 12 and the product ID from index 21 of the name, each as 1 to 4
// hexadecimal digits of either case (the digits stop at the first other character or after 4),
// and answers IsHeadsetVendor(vendor ID); the product ID is not tested. Unlike a scanf "%04x",
// no leading blank or sign is skipped and "0x" is no prefix: the field must start with a hex
// digit, and "0x28" reads as 0.
// False, with vid and pid untouched, when the name is not longer than the 25-character template
// or either field does not start with a hexadecimal digit; vid and pid are written only when
// both fields were read.
bool ParseVidPid(std::string_view name, std::uint16_t& vid, std::uint16_t& pid);

// True for the headset's USB vendor ID, 0x2833.
bool IsHeadsetVendor(std::uint16_t vid);

}  // namespace obrint
