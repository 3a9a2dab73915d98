// The Device path with the identity it is searched under, the walk over the registry's list of
// HID interfaces, and the search that finds the headset's interface path in that list.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "device/discovery.h"

namespace obrint::devpath {

// The process-wide Device path (empty until a search finds the headset, never cleared) with
// `Headset VID` 0x2833 and `Headset PID` 0x0001 to start with.
HeadsetLocation& TheHeadsetLocation();

// Copies a search result into the Device path; a null result, or one that would not fit a
// MAX_PATH buffer, leaves it as it was. True when copied.
bool StoreDevicePath(HeadsetLocation& location, const char* path);

// Calls `visit` with the name of each subkey of the registry's interface list of the device
// interface class `classGuidText` (no braces), in enumeration order, until it returns true (then
// true). Names of 255 characters or more do not fit the name buffer and are skipped.
bool VisitInterfaceNames(const char* classGuidText,
                         const std::function<bool(std::string_view name)>& visit);

// The first candidate path of a subkey carrying vid and pid that opens, in the walk's order. Null
// when none does. The text lives in a buffer that the next search reuses: copy it at once.
const char* FindHidDevicePath(const char* classGuidText, std::uint16_t vid, std::uint16_t pid);

}  // namespace obrint::devpath
