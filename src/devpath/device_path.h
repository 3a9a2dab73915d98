// The Device path with the identity it is searched under, and the registry search that finds the
// headset's HID interface path.
#pragma once

#include <cstdint>

#include "core/ports.h"

namespace obrint::win {

// The process-wide Device path (empty until a search finds the headset, never cleared) with
// `Headset VID` 0x2833 and `Headset PID` 0x0001 to start with.
HeadsetLocation& TheHeadsetLocation();

// Copies a search result into the Device path; a null result, or one that would not fit a
// MAX_PATH buffer, leaves it as it was. True when copied.
bool StoreDevicePath(HeadsetLocation& location, const char* path);

// Walks the registry's list of interfaces of the device interface class `classGuidText` (36
// characters, no braces) under HKLM\SYSTEM\CurrentControlSet\Control\DeviceClasses, in
// enumeration order, and returns the first candidate path of a subkey carrying vid and pid that
// opens. Null when none does. The text lives in a buffer that the next search reuses: copy it at
// once.
const char* FindHidDevicePath(const char* classGuidText, std::uint16_t vid, std::uint16_t pid);

}  // namespace obrint::win
