#include "cli/fleet.h"

#include <algorithm>
#include <array>
#include <thread>

#include "cli/commands.h"

namespace obrint::cli {
namespace {

bool IsBoot(const AttachedInterface& found) { return found.pid == kBootProductId; }

// Ends a run as failed, or, interrupted, as not started.
HeadsetRun& Fail(HeadsetRun& run, ExitCode code, std::string reason) {
  run.outcome = code == ExitCode::kInterrupted ? FleetOutcome::kCancelled : FleetOutcome::kFailed;
  run.code = code;
  run.reason = std::move(reason);
  return run;
}

}  // namespace

std::unique_ptr<Clock> Backend::WorkerClock(const AttachedInterface&) {
  // Every wait goes to the one clock.
  class Shared : public Clock {
   public:
    explicit Shared(Clock& clock) : clock_(clock) {}
    void Sleep(unsigned ms) override { clock_.Sleep(ms); }

   private:
    Clock& clock_;
  };
  return std::make_unique<Shared>(clock());
}

std::vector<AttachedInterface> FleetHeadsets(Backend& backend, std::uint16_t vid) {
  std::vector<AttachedInterface> headsets;
  for (AttachedInterface& found : backend.Enumerate(vid)) {
    if (found.interfaceNumber <= 0) headsets.push_back(std::move(found));
  }
  return headsets;
}

FleetRun::FleetRun(Backend& backend, FileSystem& files, FleetOptions options)
    : backend_(backend), files_(files), options_(std::move(options)), link_(backend.link()) {}

bool FleetRun::Interrupted() const {
  return options_.interrupts && options_.interrupts->load() > 0;
}

void FleetRun::Report(std::size_t index, WorkerState state, std::uint32_t sent,
                      std::uint32_t size) {
  if (!options_.onProgress) return;
  const std::lock_guard lock(progressMutex_);
  options_.onProgress(index, state, sent, size);
}

std::vector<AttachedInterface> FleetRun::Attached() {
  return link_.Serialised([this] { return backend_.Enumerate(kHeadsetVendorId); });
}

std::vector<AttachedInterface> FleetRun::BootInterfaces() {
  std::vector<AttachedInterface> boot = Attached();
  std::erase_if(boot, [](const AttachedInterface& found) { return !IsBoot(found); });
  return boot;
}

std::optional<std::string> FleetRun::BootOnPort(const std::string& port) {
  for (const AttachedInterface& found : BootInterfaces()) {
    if (found.port == port) return found.path;
  }
  return std::nullopt;
}

std::optional<std::string> FleetRun::NewBootInterface(const std::set<std::string>& before,
                                                      bool& ambiguous) {
  std::vector<std::string> appeared;
  for (const AttachedInterface& found : BootInterfaces()) {
    if (!before.contains(found.path)) appeared.push_back(found.path);
  }
  if (appeared.size() == 1) return appeared.front();
  // Several at once: which of them is this headset cannot be told, so none is touched.
  ambiguous = ambiguous || appeared.size() > 1;
  return std::nullopt;
}

std::optional<std::uint16_t> FleetRun::FirmwareAfterReboot(const AttachedInterface& headset,
                                                           const std::optional<McuId>& mcuId,
                                                           Clock& clock) {
  const std::optional<std::string> back =
      AwaitInterface(clock, options_.timeoutMs, [&]() -> std::optional<std::string> {
        for (const AttachedInterface& found : Attached()) {
          const bool same = byPort_ ? found.port == headset.port : found.path == headset.path;
          if (same && !IsBoot(found) && found.interfaceNumber <= 0) return found.path;
        }
        return std::nullopt;
      });
  if (!back) return std::nullopt;
  const std::optional<HeadsetInfo> info = ReadHeadsetInfo(link_, *back);
  if (!info || (!byPort_ && (!mcuId || info->mcuId != mcuId))) return std::nullopt;
  return info->firmwareVersion;
}

HeadsetRun FleetRun::Work(std::size_t index, const FleetTarget& target) {
  const auto started = std::chrono::steady_clock::now();
  HeadsetRun run;
  run.headset = target.headset;
  const std::string& port = target.headset.port;
  const auto finish = [&](HeadsetRun& result) -> HeadsetRun {
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    result.ended = std::chrono::system_clock::now();
    Report(index, WorkerState::kDone, result.sent, 0);
    return std::move(result);
  };
  if (Interrupted()) return finish(Fail(run, ExitCode::kInterrupted, "not started (interrupted)"));
  std::unique_ptr<ImageFile> image = files_.OpenForReading(target.image);
  if (!image) return finish(Fail(run, ExitCode::kFileError, target.image + " cannot be opened"));

  if (const std::optional<HeadsetInfo> info = ReadHeadsetInfo(link_, target.headset.path)) {
    run.mcuId = info->mcuId;
    if (!IsBoot(target.headset)) run.firmwareBefore = info->firmwareVersion;
  }

  const std::unique_ptr<Clock> clock = backend_.WorkerClock(target.headset);
  HeadsetLocation location{target.headset.path, target.headset.vid, target.headset.pid};
  std::set<std::string> before;
  bool ambiguous = false;
  UpgradeOptions options;
  options.bootSearchMs = options_.timeoutMs;
  options.onProgress = [&](std::uint32_t sent, std::uint32_t size) {
    Report(index, WorkerState::kFlashing, sent, size);
  };
  if (byPort_) {
    options.findBootFirmware = [&] { return BootOnPort(port); };
  } else {
    options.findBootFirmware = [&] { return NewBootInterface(before, ambiguous); };
  }

  FirmwareUpgrade upgrade(link_, *clock, location, *image, options);
  bool going = upgrade.CheckImage() && upgrade.OpenHeadset();
  bool cancelled = false;
  if (going) {
    std::unique_lock turn(turnMutex_, std::defer_lock);
    if (!byPort_) {
      Report(index, WorkerState::kWaiting, 0, 0);
      turn.lock();
      for (const AttachedInterface& found : BootInterfaces()) before.insert(found.path);
    }
    cancelled = Interrupted();
    if (!cancelled) {
      Report(index, WorkerState::kRestarting, 0, 0);
      going = upgrade.EnterBootFirmware();
    }
    if (turn.owns_lock()) turn.unlock();
    if (going && !cancelled) {
      {
        const std::lock_guard lock(takenMutex_);
        taken_.insert(location.devicePath);
      }
      run.bootVersion = upgrade.ReadBootVersion();
      going = upgrade.Transfer();
    }
  }
  upgrade.Release();
  image.reset();
  run.sent = upgrade.sent();
  if (cancelled) return finish(Fail(run, ExitCode::kInterrupted, "not started (interrupted)"));

  if (upgrade.failure() != UpgradeFailure::kNone) {
    cli::Report why;
    FlashFailure(upgrade.failure(), options_.timeoutMs, target.image, why);
    if (ambiguous && upgrade.failure() == UpgradeFailure::kBootNotFound) {
      why.error = "several boot firmwares appeared at once; none was touched";
    }
    return finish(Fail(run, why.code, why.error));
  }
  run.outcome = FleetOutcome::kFlashed;
  Report(index, WorkerState::kRebooting, run.sent, 0);
  run.firmwareAfter = FirmwareAfterReboot(target.headset, run.mcuId, *clock);
  return finish(run);
}

std::vector<HeadsetRun> FleetRun::Flash(const std::vector<FleetTarget>& targets) {
  byPort_ = std::all_of(targets.begin(), targets.end(),
                        [](const FleetTarget& target) { return !target.headset.port.empty(); });
  std::vector<HeadsetRun> runs(targets.size());
  std::vector<std::thread> workers;
  for (std::size_t i = 0; i < targets.size(); ++i) {
    workers.emplace_back([this, i, &targets, &runs] { runs[i] = Work(i, targets[i]); });
  }
  for (std::thread& worker : workers) worker.join();

  std::set<std::string> ours = taken_;
  std::set<std::string> ourPorts;
  for (const FleetTarget& target : targets) {
    ours.insert(target.headset.path);
    ourPorts.insert(target.headset.port);
  }
  for (const AttachedInterface& found : BootInterfaces()) {
    if (byPort_ ? !ourPorts.contains(found.port) : !ours.contains(found.path)) {
      strays_.push_back(found);
    }
  }
  return runs;
}

ExitCode WorstExitCode(const std::vector<HeadsetRun>& runs) {
  static constexpr std::array kWorstFirst = {ExitCode::kVerificationFailed,
                                             ExitCode::kDeviceRefused, ExitCode::kNoDevice,
                                             ExitCode::kFileError, ExitCode::kInterrupted};
  for (const ExitCode code : kWorstFirst) {
    if (std::any_of(runs.begin(), runs.end(),
                    [code](const HeadsetRun& run) { return run.code == code; })) {
      return code;
    }
  }
  return ExitCode::kSuccess;
}

}  // namespace obrint::cli
