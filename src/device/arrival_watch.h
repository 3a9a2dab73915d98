// Headsets coming and going: the HID interfaces that the platform tells of as they attach and
// detach, one change at a time; a station waits on it for arrivals. A change names a path only:
// what is there is asked of the bus, which may have changed again since.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace obrint {

struct BusChange {
  enum class Kind : std::uint8_t { kAttached, kDetached };
  Kind kind;
  std::string path;  // as HidBus::Enumerate names the interface
};

// Every change from the watch's start on, in the order the platform told them.
class ArrivalWatch {
 public:
  virtual ~ArrivalWatch() = default;
  // The next change, waiting up to `timeoutMs` for one; nullopt when none came by then.
  virtual std::optional<BusChange> Next(unsigned timeoutMs) = 0;
};

}  // namespace obrint
