// The virtual headsets as a host of the engine, for obrint-cli --sim, the tests and the benchmarks:
// on virtual time or the real clock, with the faults of --sim-fault and a station's plugs.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/host.h"
#include "sim/plug_script.h"

namespace obrint::sim {

// What can go wrong with one virtual headset (--sim-fault N:KIND).
enum class FaultKind : std::uint8_t {
  kBlockSum,  // "block-sum": it answers the first Data block with a wrong sum
  kTotal,     // "total": it answers Finish with a wrong image total
  kNoReturn,  // "no-return": it never comes back from the restart into its boot firmware
  kNotBack,   // "not-back": it never comes back after the Reboot into the new firmware
  kUnplug,    // "unplug": it leaves the bus for good in the middle of the transfer
  kLateBoot,  // "late-boot": its boot firmware shows up only when another headset restarts
  kNoMcuId,   // "no-mcu-id": its boot firmware gives no MCU ID
};

struct Fault {
  unsigned headset = 1;  // 1-based
  FaultKind kind = FaultKind::kBlockSum;
};

// "N:KIND" as --sim-fault takes it; nullopt when it is not one.
std::optional<Fault> ParseFault(std::string_view text);

inline constexpr unsigned kMaxSimHeadsets = 64;  // --sim N

struct HostSetup {
  std::string stateFile;  // one headset only
  unsigned count = 1;
  std::vector<Fault> faults;
  bool realTime = false;    // waits really pass, each on its own headset's clock
  bool noPorts = false;     // the platform tells no ports
  bool reusePaths = false;  // interfaces take the lowest free /dev/hidrawN, as on Linux
  // A station's rehearsal: headsets plugged in and out (--sim-plug, --sim-plug-file).
  std::vector<PlugStep> plugs;
};

// The virtual headsets, on the ports "1-2.1", "1-2.2", ... with distinct MCU IDs. With a state
// file: the one headset, fresh or loaded from it, written back at Finish; kFileUnreadable when
// the file cannot be read or is no headset state.
Result<std::unique_ptr<engine::Host>> MakeHost(const HostSetup& setup);
// Over virtual headsets set up by the caller, who may look at them once the host is done.
std::unique_ptr<engine::Host> MakeHost(std::shared_ptr<VirtualFleet> fleet, bool realTime,
                                       std::vector<PlugStep> plugs = {});

// --sim and the other options of the virtual headsets, as the command line takes them.
struct Options {
  HostSetup setup;
  bool used = false;  // any of them given: the virtual headsets stand in for the platform's
  bool countGiven = false, plugMsGiven = false;  // --sim, --sim-plug
  unsigned plugMs = 0;
  std::string plugFile, state;
  std::vector<std::string> faults;
};

// Once parsed: the setup completed, and whether they are used. Why they do not hold together
// (plugs rehearse a station only: `station`), or an empty text.
std::string Complete(Options& options, bool station);

}  // namespace obrint::sim
