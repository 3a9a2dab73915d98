// Where the command line finds headsets: the platform's HID bus and clock (hidraw on Linux,
// hid.dll on Windows), or the virtual headsets of the simulator.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device/arrival_watch.h"
#include "device/clock.h"
#include "device/failure.h"
#include "device/hid_bus.h"
#include "sim/plug_script.h"

namespace obrint::cli {

class Host {
 public:
  virtual ~Host() = default;
  virtual HidBus& bus() = 0;
  virtual Clock& clock() = 0;
  // A clock of its own for the worker that flashes `headset` while others run: by default one
  // that waits on clock(), which must then take waits from several threads at once.
  virtual std::unique_ptr<Clock> ClockFor(const HidInterface& headset);
  // "sim", "hidraw" or "hid.dll", for the output.
  virtual std::string_view name() const = 0;
  // Interfaces coming and going from now on; null where the platform tells none.
  virtual std::unique_ptr<ArrivalWatch> WatchArrivals() { return nullptr; }
  // Ends the command: keeps whatever must outlive it (a virtual headset's state).
  virtual Status Finish() { return {}; }
};

// What can go wrong with one virtual headset (--sim-fault N:KIND).
enum class SimFaultKind : std::uint8_t {
  kBlockSum,  // "block-sum": it answers the first Data block with a wrong sum
  kTotal,     // "total": it answers Finish with a wrong image total
  kNoReturn,  // "no-return": it never comes back from the restart into its boot firmware
  kNotBack,   // "not-back": it never comes back after the Reboot into the new firmware
  kUnplug,    // "unplug": it leaves the bus for good in the middle of the transfer
  kLateBoot,  // "late-boot": its boot firmware shows up only when another headset restarts
  kNoMcuId,   // "no-mcu-id": its boot firmware gives no MCU ID
};

struct SimFault {
  unsigned headset = 1;  // 1-based
  SimFaultKind kind = SimFaultKind::kBlockSum;
};

// "N:KIND" as --sim-fault takes it; nullopt when it is not one.
std::optional<SimFault> ParseSimFault(std::string_view text);
// The fault kinds' names, for the help.
std::string_view SimFaultNames();

struct SimSetup {
  std::string stateFile;  // one headset only
  unsigned count = 1;
  std::vector<SimFault> faults;
  bool realTime = false;    // waits really pass, each on its own headset's clock
  bool noPorts = false;     // the platform tells no ports
  bool reusePaths = false;  // interfaces take the lowest free /dev/hidrawN, as on Linux
  // A station's rehearsal: headsets plugged in and out (--sim-plug, --sim-plug-file).
  std::vector<sim::PlugStep> plugs;
};

// The virtual headsets, on the ports "1-2.1", "1-2.2", ... with distinct MCU IDs; the first is
// the one the single-headset commands have always had. With a state file: the one headset,
// fresh or loaded from it (when present), written back at Finish. Failure::kFileUnreadable when
// the file cannot be read or is no headset state.
Result<std::unique_ptr<Host>> MakeSimHost(const SimSetup& setup);
// Over virtual headsets set up by the caller, who may look at them once the host is done.
std::unique_ptr<Host> MakeSimHost(std::shared_ptr<sim::Fleet> fleet, bool realTime,
                                  std::vector<sim::PlugStep> plugs = {});

// The platform's HID stack. Failure::kNoHeadset when it cannot be started.
Result<std::unique_ptr<Host>> MakeHardwareHost();

}  // namespace obrint::cli
