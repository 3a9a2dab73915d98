// Flashing a whole hub of headsets at once: one worker per headset, each running the same
// upgrade, packet for packet, as a single flash.
//
// A headset leaves the bus when it restarts into its boot firmware and comes back as another
// interface (product 0x0001). Each worker follows its headset by the USB port it sits on. Where
// the platform tells no port, the restarts take turns instead: one headset restarts, takes the
// one boot interface that newly appears, then the next restarts. A boot interface that no
// headset of the run restarted into never gets a block; it is reported as a stray.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "cli/backend.h"
#include "cli/exit_codes.h"
#include "cli/shared_link.h"
#include "device/headset.h"

namespace obrint::cli {

// The headsets of the vendor: one interface per device (its only one, or its interface 0),
// whether it runs the application or, waiting for recovery, the boot firmware.
std::vector<AttachedInterface> FleetHeadsets(Backend& backend, std::uint16_t vid);

struct FleetTarget {
  AttachedInterface headset;
  std::string image;  // the image file for this headset
};

enum class FleetOutcome : std::uint8_t { kFlashed, kFailed, kCancelled };

// How one headset's run went.
struct HeadsetRun {
  AttachedInterface headset;  // as found at the start
  std::optional<McuId> mcuId;
  std::optional<std::uint16_t> firmwareBefore;  // nullopt also for a headset in its boot firmware
  std::optional<std::uint16_t> firmwareAfter;   // read where it came back after the reboot
  std::optional<std::uint16_t> bootVersion;
  FleetOutcome outcome = FleetOutcome::kFailed;
  ExitCode code = ExitCode::kSuccess;  // the failure class
  std::string reason;                  // why it failed
  std::uint32_t sent = 0;
  double seconds = 0;
  std::chrono::system_clock::time_point ended;
};

// What a worker is doing, for a progress display.
enum class WorkerState : std::uint8_t {
  kWaiting,     // for its turn to restart
  kRestarting,  // into the boot firmware
  kFlashing,
  kRebooting,  // into the new firmware, and read back
  kDone,
};

struct FleetOptions {
  unsigned timeoutMs = 10000;  // for the boot firmware to show up, and for the headset to return
  // Called from the workers' threads, one call at a time.
  std::function<void(std::size_t target, WorkerState state, std::uint32_t sent, std::uint32_t size)>
      onProgress;
  // Ctrl+C presses so far: after one, no headset starts; those past their restart finish.
  const std::atomic<int>* interrupts = nullptr;
};

class FleetRun {
 public:
  FleetRun(Backend& backend, FileSystem& files, FleetOptions options);

  // Flashes every target at once; one run per target, in order. The boot firmware is followed
  // by port where every target has one, else the restarts take turns.
  std::vector<HeadsetRun> Flash(const std::vector<FleetTarget>& targets);
  // Boot interfaces seen that no headset of the run restarted into: none was touched.
  const std::vector<AttachedInterface>& strays() const { return strays_; }
  bool byPort() const { return byPort_; }

 private:
  HeadsetRun Work(std::size_t index, const FleetTarget& target);
  std::vector<AttachedInterface> Attached();
  std::vector<AttachedInterface> BootInterfaces();
  // One look for the boot interface that the headset at `port` restarted into.
  std::optional<std::string> BootOnPort(const std::string& port);
  // One look for the one boot interface not in `before`; several at once are not taken.
  std::optional<std::string> NewBootInterface(const std::set<std::string>& before, bool& ambiguous);
  // The firmware version of `headset` once it is back from its reboot: found on its port, or,
  // where no port is told, under its path from before the run, and then only if it gives the
  // MCU ID it gave before. nullopt when it did not come back in time or is not the same.
  std::optional<std::uint16_t> FirmwareAfterReboot(const AttachedInterface& headset,
                                                   const std::optional<McuId>& mcuId, Clock& clock);
  void Report(std::size_t index, WorkerState state, std::uint32_t sent, std::uint32_t size);
  bool Interrupted() const;

  Backend& backend_;
  FileSystem& files_;
  FleetOptions options_;
  SharedHidLink link_;
  bool byPort_ = true;
  std::mutex turnMutex_;      // restarts take turns without ports
  std::mutex progressMutex_;  // one onProgress call at a time
  std::mutex takenMutex_;
  std::set<std::string> taken_;  // the boot interfaces that the workers took
  std::vector<AttachedInterface> strays_;
};

// The worst failure class among the runs, kSuccess when every headset was flashed. From the
// worst: verification-failed (a headset may hold a part of the image), device-refused, no-device,
// file-error, interrupted.
ExitCode WorstExitCode(const std::vector<HeadsetRun>& runs);

}  // namespace obrint::cli
