// Flashing headsets at once: one worker per headset, each running the one upgrade sequence, packet
// for packet, as a single flash does; each followed across its restarts by its USB port and MCU
// ID (device/follow.h). Headsets may be added while others are flashed (a station's arrivals).
// Every headset's record is appended to the log as soon as its run ends; a signal that ends the
// process first gives every headset left a record of where it stood.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "cli/files.h"
#include "cli/host.h"
#include "cli/image_load.h"
#include "cli/record.h"
#include "cli/selection.h"
#include "cli/signals.h"
#include "device/follow.h"
#include "device/upgrade.h"

namespace obrint::cli {

// Where one headset's run stands.
enum class RunStage : std::uint8_t {
  kWaiting,     // to begin, or for its turn to restart
  kRestarting,  // into its boot firmware
  kFlashing,
  kRebooting,  // into the new firmware, and waited for
  kDone,
};

struct FleetSetup {
  FleetSetup(Host& host, const LoadedImage& image, SignalWatch& signals)
      : host(host), image(image), signals(signals) {}

  Host& host;
  const LoadedImage& image;
  SignalWatch& signals;
  RunSetting setting;
  unsigned timeoutMs = 10000;  // for the boot firmware to show up, and for the headset to return
  AppendLog* log = nullptr;    // each record appended as its run ends
  // Asked for one headset once its image is verified; empty: reboot. Not confirmed because a
  // signal came, the headset is recorded as interrupted.
  std::function<bool(std::size_t target)> confirmReboot;
  // From the workers' threads, one call at a time.
  std::function<void(std::size_t target, RunStage stage, std::uint32_t sent, std::uint32_t size)>
      onProgress;
  std::function<void(std::size_t target, const UpgradeEvent& event)> onStep;
  // From the workers' threads, one call at a time: a run's record, as it was logged.
  std::function<void(std::size_t target, const HeadsetRecord& record)> onEnded;
  // Under the same lock, once: the first record the log could not take, and the system's reason.
  std::function<void(const std::string& why)> onLogFailed;
  // On the calling thread, as soon as the first Ctrl+C comes.
  std::function<void()> onFirstInterrupt;
  // When a signal ends the process: every record, in the targets' order, once each is logged;
  // the process then ends with 128 + the signal's number.
  std::function<void(const std::vector<HeadsetRecord>& records, int signal)> onEnding;
};

class Fleet {
 public:
  // Takes the signals over (SignalWatch::TakeOver).
  explicit Fleet(FleetSetup setup);
  // Waits for every worker.
  ~Fleet();
  Fleet(const Fleet&) = delete;
  Fleet& operator=(const Fleet&) = delete;

  // Starts flashing the targets, each on a worker of its own, all of them known to the tracker
  // before the first restarts; the index of the first among the records.
  std::size_t Start(const std::vector<Target>& targets);
  // Waits up to `pace` for a run to end, and minds the signals: the first Ctrl+C is told once,
  // a second one (or SIGTERM, SIGHUP) ends the process. The number of runs under way.
  std::size_t Watch(std::chrono::milliseconds pace);
  // Flashes every target at once and waits for all; a record per target, in order.
  std::vector<HeadsetRecord> Flash(const std::vector<Target>& targets);
  // Records a target left alone for `why`, in the words of `reason` (else those of `why`):
  // logged, and told as a run's end. One that needs recovery has failed; any other was not started.
  std::size_t Leave(const Target& target, Failure why, std::string reason = {});
  // Every record so far, in order; those of runs under way as they stand.
  std::vector<HeadsetRecord> records() const;
  // Whether a headset of the run restarted into the boot firmware at `path`.
  bool Took(const std::string& path) const { return tracker_.Took(path); }
  bool byPort() const { return tracker_.byPort(); }
  // Boot firmwares seen at the end that no headset of the run restarted into: none was touched.
  const std::vector<HidInterface>& strays() const { return strays_; }
  // The records the log could not take, in the order they ended.
  std::vector<HeadsetRecord> unlogged() const;

 private:
  // A target's record and place; under the lock.
  std::size_t Add(const Target& target);
  void Work(std::size_t index, RestartTracker::Ticket ticket);
  void Stage(std::size_t index, RunStage stage, std::uint32_t sent = 0);
  void Finish(std::size_t index, HeadsetRecord record);
  // Appends a record to the log; under the lock.
  void Log(std::size_t index);
  // Records every run not yet ended as it stands, and ends the process.
  [[noreturn]] void End(int signal);

  FleetSetup setup_;
  RestartTracker tracker_;
  std::deque<Target> targets_;  // where each worker finds its own
  std::vector<std::thread> workers_;
  bool told_ = false;         // of the first Ctrl+C
  mutable std::mutex mutex_;  // guards what follows, and the calls to onProgress and onEnded
  std::condition_variable changed_;
  std::vector<HeadsetRecord> records_;
  std::vector<RunStage> stages_;
  std::size_t ended_ = 0;
  bool closed_ = false;  // a signal took over the records
  std::vector<std::size_t> unlogged_;
  std::vector<HidInterface> strays_;
};

// The worst exit status among the records, kSuccess when every headset was flashed. From the
// worst: verification-failed (a headset may hold part of an image), device-refused, no-device,
// usage, file-error, declined, interrupted (another signal's 128 + n with it, the first one
// found).
ExitCode WorstExitCode(const std::vector<HeadsetRecord>& records);

}  // namespace obrint::cli
