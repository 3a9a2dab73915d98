// The portable half of the search for the headset's HID interface: which registry subkey names
// carry a vendor and product ID, and which Win32 path a name stands for.
//
// The registry lists the interfaces of a device interface class as subkeys named like
//   ##?#HID#VID_2833&PID_0021#7&1a2b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}
// A name matches when it carries "#VID_vvvv&PID_pppp#" (a whole device) or, failing that,
// "#VID_vvvv&PID_pppp&MI_00#" (interface 0 of a composite device), compared without regard to
// ASCII case. Its path is "\\.\" followed by the name from its fifth character on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "device/hid_bus.h"
#include "device/text.h"

namespace obrint {

// The HID device interface class, as the registry names it: the GUID without braces.
inline constexpr char kHidClassGuidText[] = "4D1E55B2-F16F-11CF-88CB-001111000030";
// Paths and names fit in MAX_PATH characters, terminator included.
inline constexpr std::size_t kMaxPath = 260;

// The Device path and the identity it is searched under; one per process.
struct HeadsetLocation {
  std::string devicePath;  // empty: no headset known. Never cleared once set.
  std::uint16_t vid = kHeadsetVendorId;
  std::uint16_t pid = kBootProductId;
};

// Room for a path built from the longest name the registry walk reads, terminator included.
inline constexpr std::size_t kDiscoveryBufferSize = 260;

// Writes "\\.\" and the subkey name from its fifth character on into `buf`, zero-terminated, and
// returns it. The first four characters are dropped unseen ("##?#" in the registry's naming); a
// name of four characters or fewer gives "\\.\" alone. Truncated to fit a short buffer.
std::string_view FormatCandidatePath(std::span<char> buf, std::string_view subkeyName);

// Answers whether the interface at `path` opens (and closes it again).
using OpensFn = std::function<bool(const char* path)>;

// The decision for one subkey: the device pattern first, then the interface-0 pattern; for each
// that the name carries, the candidate path is formatted into `buf` (the search's one scratch
// buffer, kDiscoveryBufferSize bytes) and tried with `opens`. True when one opened: `buf` holds it.
bool TryDiscoverySubkey(std::span<char> buf, std::string_view subkeyName, std::uint16_t vid,
                        std::uint16_t pid, const OpensFn& opens);

}  // namespace obrint
