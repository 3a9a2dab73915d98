// Where the engine finds headsets: the platform's HID bus and clock, or the simulator's virtual
// headsets; and what stops a run.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "device/arrival_watch.h"
#include "device/clock.h"
#include "device/failure.h"
#include "device/hid_bus.h"

namespace obrint::engine {

class Host {
 public:
  virtual ~Host() = default;
  virtual HidBus& bus() = 0;
  virtual Clock& clock() = 0;
  // A clock for the worker that flashes `headset` while others run: by default clock(), which
  // must then take waits from several threads at once.
  virtual std::unique_ptr<Clock> ClockFor(const HidInterface& headset);
  // "sim", "hidraw" or "hid.dll", for the output.
  virtual std::string_view name() const = 0;
  // Interfaces coming and going from now on; null where the platform tells none.
  virtual std::unique_ptr<ArrivalWatch> WatchArrivals() { return nullptr; }
  // Ends the session: keeps whatever must outlive it (a virtual headset's state).
  virtual Status Finish() { return {}; }
};

// The platform's HID stack (posix/ or win/hardware_host.cpp): kNoHeadset when it cannot start.
Result<std::unique_ptr<Host>> MakeHardwareHost();
// The computer's name, for the station a record names by default.
std::string HostName();

// The requests to stop that a run minds, the process's signals or a test's: the first Ctrl+C
// winds a run down (no headset starts any more, those under way finish); a second, or another
// signal, ends it at once, once every headset has its record.
class StopRequests {
 public:
  virtual ~StopRequests() = default;
  // Ctrl+C presses so far.
  virtual int interrupts() const = 0;
  // The signal that ends a run at once: 0 while none came.
  virtual int ending() const = 0;
  // The first signal that came: 0 while none came.
  virtual int first() const = 0;
};

}  // namespace obrint::engine
