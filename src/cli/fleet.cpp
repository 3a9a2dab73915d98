#include "cli/fleet.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <thread>

#include "records/record_id.h"

namespace obrint::cli {
namespace {

constexpr auto kWatchPace = std::chrono::milliseconds(20);

HeadsetIdentity IdentityOf(const Target& target) {
  return {target.interface.path, target.interface.usbPort, target.info.mcuId};
}

void Fail(HeadsetRecord& record, Failure failure) {
  record.outcome =
      CategoryOf(failure) == FailureCategory::kNotBack ? RunOutcome::kNotBack : RunOutcome::kFailed;
  record.reason = Message(failure);
  record.failure = failure;
  record.exitStatus = static_cast<int>(ExitCodeOf(failure));
}

// What a signal that ends the process leaves a headset as, by where its run stood.
void Interrupt(HeadsetRecord& record, RunStage stage, int signal) {
  static constexpr std::array<std::string_view, 4> kWhere = {
      "not started",
      "interrupted while restarting into its boot firmware: needs a new flash",
      "interrupted in its boot firmware: needs a new flash",
      "interrupted after its reboot: written and verified, not seen back",
  };
  record.outcome = stage == RunStage::kWaiting ? RunOutcome::kNotStarted : RunOutcome::kInterrupted;
  record.reason = kWhere[std::min<std::size_t>(static_cast<std::size_t>(stage), 3)];
  record.exitStatus = SignalWatch::ExitStatusFor(signal);
}

}  // namespace

Fleet::Fleet(FleetSetup setup) : setup_(std::move(setup)), tracker_(setup_.host.bus()) {
  setup_.signals.TakeOver();
}

Fleet::~Fleet() {
  for (std::thread& worker : workers_) {
    if (worker.joinable()) worker.join();
  }
}

std::vector<HeadsetRecord> Fleet::unlogged() const {
  const std::lock_guard lock(mutex_);
  std::vector<HeadsetRecord> records;
  for (const std::size_t index : unlogged_) records.push_back(records_[index]);
  return records;
}

void Fleet::Log(std::size_t index) {
  if (!setup_.log || setup_.log->Append(RecordJson(setup_.setting, records_[index]).dump())) return;
  unlogged_.push_back(index);
  if (unlogged_.size() == 1 && setup_.onLogFailed) setup_.onLogFailed(setup_.log->failure());
}

void Fleet::Stage(std::size_t index, RunStage stage, std::uint32_t sent) {
  const std::lock_guard lock(mutex_);
  stages_[index] = stage;
  records_[index].bytesSent = std::max(records_[index].bytesSent, sent);
  if (setup_.onProgress) {
    setup_.onProgress(index, stage, sent, static_cast<std::uint32_t>(setup_.image.bytes.size()));
  }
}

void Fleet::Finish(std::size_t index, HeadsetRecord record) {
  record.ended = std::chrono::system_clock::now();
  // What the run kept is free before anyone hears that it has ended (a left target kept none).
  setup_.host.bus().leases().ReleaseAll();
  std::unique_lock lock(mutex_);
  // Its port is free for the next headset before anyone hears that the run has ended.
  tracker_.Forget(IdentityOf(targets_[index]));
  if (closed_) return;  // a signal recorded this run already
  records_[index] = std::move(record);
  stages_[index] = RunStage::kDone;
  Log(index);
  if (setup_.onProgress) setup_.onProgress(index, RunStage::kDone, records_[index].bytesSent, 0);
  if (setup_.onEnded) setup_.onEnded(index, records_[index]);
  ++ended_;
  changed_.notify_all();
}

void Fleet::Work(std::size_t index, RestartTracker::Ticket ticket) {
  HeadsetRecord record;
  const Target* targetAt = nullptr;
  {
    const std::lock_guard lock(mutex_);
    record = records_[index];
    targetAt = &targets_[index];
  }
  const Target& target = *targetAt;
  RestartTracker& tracker = tracker_;
  const bool recovery = target.interface.firmware() == FirmwareKind::kBoot;
  const HeadsetIdentity identity = IdentityOf(target);
  const auto notStarted = [&] {
    record.outcome = RunOutcome::kNotStarted;
    record.reason = "not started: interrupted";
    record.exitStatus = static_cast<int>(ExitCode::kInterrupted);
    Finish(index, std::move(record));
  };
  InterfaceLeases& leases = setup_.host.bus().leases();
  // Kept from before its turn: no other run's return check reads it while it waits.
  const bool kept = leases.Keep(target.interface.path);
  RestartTracker::Turn turn = tracker.TakeTurn(ticket);
  // A headset in its boot firmware is not restarted: its turn is nobody's business.
  if (recovery) turn.End();
  if (setup_.signals.interrupts() > 0) return notStarted();
  if (!kept) {
    Fail(record, Failure::kNotOpened);
    return Finish(index, std::move(record));
  }
  Stage(index, RunStage::kRestarting);

  const std::unique_ptr<Clock> clock = setup_.host.ClockFor(target.interface);
  UpgradeHooks hooks;
  hooks.bootSearchMs = setup_.timeoutMs;
  hooks.onStep = [&](const UpgradeEvent& event) {
    // Its application firmware's interface goes: whatever takes the path next is not its own.
    if (event.step == UpgradeStep::kRestarting) leases.Release(target.interface.path);
    if (event.step == UpgradeStep::kBootVersion) {
      const std::lock_guard lock(mutex_);
      records_[index].bootVersion = event.value;
    }
    if (setup_.onStep) setup_.onStep(index, event);
  };
  tracker.Arm(hooks, identity, turn);
  hooks.onProgress = [&](std::uint32_t sent, std::uint32_t) {
    Stage(index, RunStage::kFlashing, sent);
  };
  if (setup_.confirmReboot) hooks.confirmReboot = [&] { return setup_.confirmReboot(index); };

  FirmwareUpgrade upgrade(setup_.host.bus(), *clock, setup_.image.bytes, std::move(hooks));
  const Status status = upgrade.Run(target.interface.path);
  upgrade.Release();
  leases.ReleaseAll();  // the boot firmware goes with the reboot
  turn.End();
  record.bootVersion = upgrade.report().bootVersion;
  record.bytesSent = upgrade.report().sent;
  if (!status) {
    Fail(record, RestartTracker::Explain(status.failure(), turn));
    // A signal ended the question before the reboot: the run ends as a second Ctrl+C ends it.
    if (const int signal = setup_.signals.first();
        signal && status.failure() == Failure::kRebootDeclined) {
      Interrupt(record, RunStage::kFlashing, signal);
    }
    return Finish(index, std::move(record));
  }
  Stage(index, RunStage::kRebooting, record.bytesSent);
  const Result<std::uint16_t> back = tracker.AwaitReturn(*clock, setup_.timeoutMs, identity, turn);
  if (!back) {
    Fail(record, back.failure());
    return Finish(index, std::move(record));
  }
  record.firmwareAfter = *back;
  record.outcome = RunOutcome::kFlashed;
  Finish(index, std::move(record));
}

void Fleet::End(int signal) {
  std::vector<HeadsetRecord> records;
  {
    const std::lock_guard lock(mutex_);
    closed_ = true;
    const auto now = std::chrono::system_clock::now();
    for (std::size_t i = 0; i < records_.size(); ++i) {
      if (stages_[i] == RunStage::kDone) continue;
      Interrupt(records_[i], stages_[i], signal);
      records_[i].ended = now;
      Log(i);
    }
    records = records_;
  }
  if (setup_.onEnding) setup_.onEnding(records, signal);
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  std::_Exit(SignalWatch::ExitStatusFor(signal));
}

std::size_t Fleet::Add(const Target& target) {
  const std::size_t index = records_.size();
  targets_.push_back(target);
  HeadsetRecord record;
  record.id = records::NewRecordId();
  record.started = std::chrono::system_clock::now();
  record.usbPort = target.interface.usbPort;
  record.path = target.interface.path;
  record.mcuId = target.info.mcuId;
  if (target.interface.firmware() == FirmwareKind::kApplication) {
    record.firmwareBefore = target.info.firmwareVersion;
  }
  records_.push_back(record);
  stages_.push_back(RunStage::kWaiting);
  workers_.emplace_back();
  return index;
}

std::size_t Fleet::Start(const std::vector<Target>& targets) {
  std::size_t first = 0;
  std::vector<RestartTracker::Ticket> tickets;
  {
    const std::lock_guard lock(mutex_);
    first = records_.size();
    for (const Target& target : targets) {
      tickets.push_back(tracker_.Learn(IdentityOf(target)));
      Add(target);
    }
  }
  for (std::size_t i = 0; i < targets.size(); ++i) {
    workers_[first + i] =
        std::thread([this, i = first + i, ticket = tickets[i]] { Work(i, ticket); });
  }
  return first;
}

std::size_t Fleet::Leave(const Target& target, Failure why, std::string reason) {
  std::size_t index = 0;
  HeadsetRecord record;
  {
    const std::lock_guard lock(mutex_);
    index = Add(target);
    record = records_[index];
  }
  record.outcome = why == Failure::kNeedsRecovery ? RunOutcome::kFailed : RunOutcome::kNotStarted;
  record.reason = reason.empty() ? Message(why) : std::move(reason);
  record.failure = why;
  record.exitStatus = static_cast<int>(ExitCodeOf(why));
  Finish(index, std::move(record));
  return index;
}

std::vector<HeadsetRecord> Fleet::records() const {
  const std::lock_guard lock(mutex_);
  return records_;
}

std::size_t Fleet::Watch(std::chrono::milliseconds pace) {
  std::unique_lock lock(mutex_);
  if (ended_ < records_.size()) changed_.wait_for(lock, pace);
  if (const int signal = setup_.signals.ending()) {
    lock.unlock();
    End(signal);
  }
  if (!told_ && setup_.signals.interrupts() > 0) {
    told_ = true;
    lock.unlock();
    if (setup_.onFirstInterrupt) setup_.onFirstInterrupt();
    lock.lock();
  }
  // A worker whose run has ended is let go: a station runs for days.
  for (std::size_t i = 0; i < workers_.size(); ++i) {
    if (stages_[i] == RunStage::kDone && workers_[i].joinable()) {
      lock.unlock();
      workers_[i].join();
      lock.lock();
    }
  }
  return records_.size() - ended_;
}

std::vector<HeadsetRecord> Fleet::Flash(const std::vector<Target>& targets) {
  Start(targets);
  while (Watch(kWatchPace) > 0) {
  }
  for (std::thread& worker : workers_) {
    if (worker.joinable()) worker.join();
  }
  strays_ = tracker_.Strays();
  const std::lock_guard lock(mutex_);
  return records_;
}

ExitCode WorstExitCode(const std::vector<HeadsetRecord>& records) {
  // Every status the help lists; a signal's 128 + n ranks with interrupted.
  static constexpr std::array kWorstFirst = {
      ExitCode::kVerificationFailed, ExitCode::kDeviceRefused,
      ExitCode::kNoDevice,           ExitCode::kUsage,
      ExitCode::kFileError,          ExitCode::kDeclined,
      ExitCode::kInterrupted,        ExitCode::kSuccess};
  const auto rank = [](int status) {
    if (status > 128) status = static_cast<int>(ExitCode::kInterrupted);
    return std::find(kWorstFirst.begin(), kWorstFirst.end(), static_cast<ExitCode>(status)) -
           kWorstFirst.begin();
  };
  int worst = 0;
  for (const HeadsetRecord& record : records) {
    if (rank(record.exitStatus) < rank(worst)) worst = record.exitStatus;
  }
  return static_cast<ExitCode>(worst);
}

}  // namespace obrint::cli
