// Where the command line finds headsets: the platform's HID stack, or the built-in virtual headset.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device/ports.h"

namespace obrint::sim {
class Fleet;
}

namespace obrint::cli {

// One attached HID interface of the headset's vendor.
struct AttachedInterface {
  std::string path;
  std::uint16_t vid = 0;
  std::uint16_t pid = 0;
  int interfaceNumber = -1;  // -1 when the platform does not tell
  // The physical USB port the device sits on (Linux: "1-2.3"); the same before and after a
  // restart into the boot firmware. Empty when the platform does not tell.
  std::string port;
};

class Backend {
 public:
  virtual ~Backend() = default;
  virtual HidLink& link() = 0;
  virtual Clock& clock() = 0;
  // A clock of its own for the worker that flashes `headset` while others run: by default
  // clock(), which must then take waits from several threads at once.
  virtual std::unique_ptr<Clock> WorkerClock(const AttachedInterface& headset);
  // The attached interfaces whose vendor ID is `vid`, in the platform's order.
  virtual std::vector<AttachedInterface> Enumerate(std::uint16_t vid) = 0;
  // "sim", "hidraw" or "hid.dll", for the output.
  virtual std::string_view name() const = 0;
  // Ends the command: keeps whatever must outlive it. False, with the reason, when it could not.
  virtual bool Finish(std::string& error) {
    (void)error;
    return true;
  }
};

// What can go wrong with one virtual headset of a fleet (--sim-fault N:KIND).
enum class SimFaultKind : std::uint8_t {
  kBlockSum,  // "block-sum": it answers the first Data block with a wrong sum
  kTotal,     // "total": it answers Finish with a wrong image total
  kNoReturn,  // "no-return": it never comes back from the restart into its boot firmware
  kUnplug,    // "unplug": it leaves the bus for good in the middle of the transfer
};

struct SimFault {
  unsigned headset = 1;  // 1-based
  SimFaultKind kind = SimFaultKind::kBlockSum;
};

// "N:KIND" as --sim-fault takes it; nullopt when it is not one.
std::optional<SimFault> ParseSimFault(std::string_view text);

struct SimSetup {
  std::string stateFile;  // one headset only
  unsigned count = 1;
  std::vector<SimFault> faults;
  bool realTime = false;  // waits really pass, each on its own headset's clock
  bool noPorts = false;   // the platform tells no ports
};

// The virtual headsets, on the ports "1-2.1", "1-2.2", ... with distinct MCU IDs; the first is
// the one the single-headset commands have always had. With a state file: the one headset,
// fresh or loaded from it (when present), written back at Finish. Null, with the reason, when
// the file cannot be read or is no headset state.
std::unique_ptr<Backend> MakeSimBackend(const SimSetup& setup, std::string& error);
// Over virtual headsets set up by the caller, who may look at them once the backend is done.
std::unique_ptr<Backend> MakeSimBackend(std::shared_ptr<sim::Fleet> fleet, bool realTime);

// The platform's HID stack: hidraw through hidapi on Linux, hid.dll on Windows. Null, with the
// reason, when it cannot be started.
std::unique_ptr<Backend> MakeHardwareBackend(std::string& error);

}  // namespace obrint::cli
