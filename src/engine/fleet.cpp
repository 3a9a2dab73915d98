#include "engine/fleet.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "files/files.h"
#include "records/record_id.h"

namespace obrint::engine {
namespace {

using records::Ending;

constexpr auto kWatchPace = std::chrono::milliseconds(20);
// At the end of a run, how long the database may take for the records that wait.
constexpr std::chrono::seconds kDatabaseGrace{5};

HeadsetIdentity IdentityOf(const Target& target) {
  return {target.interface.path, target.interface.usbPort, target.info.mcuId};
}

}  // namespace

std::unique_ptr<Clock> Host::ClockFor(const HidInterface&) {
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

records::RecordStore* RunPlace::store() const {
  return outbox ? outbox.get() : static_cast<records::RecordStore*>(log.get());
}

std::optional<database::Link> RunPlace::CloseOutbox() const {
  if (!outbox) return std::nullopt;
  const database::Link link = outbox->Close(kDatabaseGrace);
  outbox->Tell(nullptr);
  return link;
}

Result<RunPlace> OpenRunPlace(records::RunSetting setting, const std::string& log,
                              const std::string& conninfo, std::string& detail) {
  RunPlace place{std::move(setting), nullptr, nullptr};
  if (!log.empty()) {
    Result<records::LogFile> file = records::LogFile::Open(log);
    if (!file) {
      detail = files::WithSystemReason(log);
      return file.failure();
    }
    place.log = std::make_unique<records::LogFile>(std::move(*file));
  }
  if (conninfo.empty()) return place;
  if (!place.log) return Failure::kBadUsage;
  Result<std::unique_ptr<database::Outbox>> outbox =
      database::OpenOutbox(*place.log, conninfo, detail);
  if (!outbox) return outbox.failure();
  place.outbox = std::move(*outbox);
  return place;
}

FleetObserver& Nobody() {
  static FleetObserver nobody;
  return nobody;
}

std::optional<unsigned> Tenths::Next(std::size_t run, RunStage stage, std::uint32_t sent,
                                     std::uint32_t size) {
  if (stage != RunStage::kFlashing || size == 0) return std::nullopt;
  told_.resize(std::max(told_.size(), run + 1));
  const auto tenth = static_cast<unsigned>(std::uint64_t{sent} * 10 / size);
  if (tenth <= told_[run]) return std::nullopt;
  return told_[run] = tenth;
}

Fleet::Fleet(FleetSetup setup)
    : setup_(std::move(setup)),
      observer_(setup_.observer ? *setup_.observer : Nobody()),
      tracker_(setup_.host.bus()) {}

Fleet::~Fleet() {
  for (std::thread& worker : workers_) {
    if (worker.joinable()) worker.join();
  }
}

std::vector<HeadsetRecord> Fleet::unkept() const {
  const std::lock_guard lock(mutex_);
  std::vector<HeadsetRecord> records;
  for (const std::size_t index : unkept_) records.push_back(records_[index]);
  return records;
}

void Fleet::Keep(std::size_t index) {
  if (!setup_.store || setup_.store->Keep(setup_.setting, records_[index])) return;
  unkept_.push_back(index);
  if (unkept_.size() == 1) observer_.StoreFailed(setup_.store->failure());
}

void Fleet::Stage(std::size_t index, RunStage stage, std::uint32_t sent) {
  const std::lock_guard lock(mutex_);
  stages_[index] = stage;
  records_[index].bytesSent = std::max(records_[index].bytesSent, sent);
  observer_.Progress(index, stage, sent, static_cast<std::uint32_t>(setup_.image.bytes.size()));
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
  Keep(index);
  observer_.Progress(index, RunStage::kDone, records_[index].bytesSent, 0);
  observer_.Ended(index, records_[index]);
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
  const auto end = [&](Ending ending) {
    record.ending = ending;
    Finish(index, std::move(record));
  };
  InterfaceLeases& leases = setup_.host.bus().leases();
  // Kept from before its turn: no other run's return check reads it while it waits.
  const bool kept = leases.Keep(target.interface.path);
  RestartTracker::Turn turn = tracker.TakeTurn(ticket);
  // A headset in its boot firmware is not restarted: its turn is nobody's business.
  if (recovery) turn.End();
  if (setup_.stop.interrupts() > 0) return end({Failure::kInterrupted, RunStage::kDone});
  if (!kept) return end({Failure::kNotOpened, RunStage::kDone});
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
    observer_.Step(index, event);
  };
  tracker.Arm(hooks, identity, turn);
  hooks.onProgress = [&](std::uint32_t sent, std::uint32_t) {
    Stage(index, RunStage::kFlashing, sent);
  };
  hooks.confirmReboot = [&] { return observer_.ConfirmReboot(index); };

  FirmwareUpgrade upgrade(setup_.host.bus(), *clock, setup_.image.bytes, std::move(hooks));
  const Status status = upgrade.Run(target.interface.path);
  upgrade.Release();
  leases.ReleaseAll();  // the boot firmware goes with the reboot
  turn.End();
  record.bootVersion = upgrade.state().bootVersion;
  record.bytesSent = upgrade.state().sent;
  if (!status) {
    // A signal ended the question before the reboot: the run ends as a second Ctrl+C ends it.
    if (const int signal = setup_.stop.first();
        signal && status.failure() == Failure::kRebootDeclined) {
      return end({std::nullopt, RunStage::kFlashing, signal});
    }
    return end({RestartTracker::Explain(status.failure(), turn), RunStage::kDone});
  }
  Stage(index, RunStage::kRebooting, record.bytesSent);
  const Result<std::uint16_t> back = tracker.AwaitReturn(*clock, setup_.timeoutMs, identity, turn);
  if (!back) return end({back.failure(), RunStage::kDone});
  record.firmwareAfter = *back;
  end({std::nullopt, RunStage::kDone});
}

void Fleet::End(int signal) {
  std::vector<HeadsetRecord> records;
  {
    const std::lock_guard lock(mutex_);
    closed_ = true;
    const auto now = std::chrono::system_clock::now();
    for (std::size_t i = 0; i < records_.size(); ++i) {
      if (stages_[i] == RunStage::kDone) continue;
      records_[i].ending = {std::nullopt, stages_[i], signal};
      records_[i].ended = now;
      Keep(i);
    }
    records = records_;
  }
  observer_.Ending(records, signal);
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

std::size_t Fleet::Leave(const Target& target, Failure why) {
  std::size_t index = 0;
  HeadsetRecord record;
  {
    const std::lock_guard lock(mutex_);
    index = Add(target);
    record = records_[index];
  }
  record.ending = {why, RunStage::kDone};
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
  if (const int signal = setup_.stop.ending(); signal && !closed_) {
    lock.unlock();
    End(signal);
    return 0;
  }
  if (closed_) return 0;
  if (!told_ && setup_.stop.interrupts() > 0) {
    told_ = true;
    lock.unlock();
    observer_.FirstInterrupt();
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

}  // namespace obrint::engine
