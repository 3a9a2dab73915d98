// The command line's hosts (engine/host.h): the platform's (host_posix.cpp, host_win.cpp), with
// what else the platform gives a process, or the virtual headsets (host_sim.cpp) as --sim sets
// them up.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/console.h"
#include "engine/host.h"
#include "sim/plug_script.h"

namespace obrint::cli {

using engine::Host;

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
std::unique_ptr<Host> MakeSimHost(std::shared_ptr<sim::VirtualFleet> fleet, bool realTime,
                                  std::vector<sim::PlugStep> plugs = {});

// The platform's HID stack. Failure::kNoHeadset when it cannot be started.
Result<std::unique_ptr<Host>> MakeHardwareHost();

// The process as its platform gives it to the command line: its arguments as UTF-8, and what its
// streams are. For the life of the object a Windows console takes UTF-8 and escape sequences, and
// a POSIX process outlives a write past a file size limit, which then fails and is told.
class Process {
 public:
  Process(int argc, char** argv);
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  const std::vector<std::string>& arguments() const { return arguments_; }
  bool errIsTerminal() const { return errIsTerminal_; }
  // Whether the error stream's terminal draws escape sequences (a console before Windows 10 not).
  bool errTakesEscapes() const { return errTakesEscapes_; }
  // Whether stdin is a terminal that a person answers on.
  bool inIsTerminal() const { return inIsTerminal_; }
  // The size of the terminal that stderr shows on, now.
  static TerminalSize ErrorTerminalSize();

 private:
  std::vector<std::string> arguments_;
  bool errIsTerminal_ = false, errTakesEscapes_ = false, inIsTerminal_ = false;
  unsigned codePage_ = 0;         // Windows: the console's output code page, given back after
  unsigned long errorsMode_ = 0;  // Windows: the error console's mode, given back after
};

// The computer's name, for the station a record names by default.
std::string HostName();

}  // namespace obrint::cli
