#include "engine/station.h"

#include <algorithm>

#include "device/text.h"

namespace obrint::engine {

// The longest the station waits for a change before it looks at its runs and the signals again.
constexpr unsigned kPaceMs = 100;

using records::RunOutcome;
using Kind = StationEvent::Kind;

struct Station::Entry {
  std::string row, port, path;
  std::optional<McuId> mcuId;
  std::size_t run = 0;    // its index among the fleet's records, once it has one
  bool running = false;   // a worker, or a record on its way
  bool rebooted = false;  // its run went as far as the reboot: its return is no arrival
  bool away = false;      // rebooted and not seen back yet
};

struct Station::EndedRun {
  std::size_t run;
  HeadsetRecord record;
  std::optional<std::string> storeFailure;  // the store refused this record: the system's reason
};

Station::Station(FleetSetup fleet, StationRules rules,
                 std::function<void(const StationEvent&)> tell)
    : bus_(fleet.host.bus()),
      stop_(fleet.stop),
      outer_(fleet.observer ? *fleet.observer : Nobody()),
      rules_(std::move(rules)),
      tell_(std::move(tell)) {
  fleet.observer = this;
  fleet_ = std::make_unique<Fleet>(std::move(fleet));
}

Station::~Station() = default;

void Station::Step(std::size_t run, const UpgradeEvent& event) { outer_.Step(run, event); }
void Station::FirstInterrupt() { outer_.FirstInterrupt(); }
void Station::Ending(const std::vector<HeadsetRecord>& records, int signal) {
  outer_.Ending(records, signal);
}

// Told as an event, after the end of the run whose record the store refused.
void Station::StoreFailed(const std::string& why) {
  const std::lock_guard lock(mutex_);
  storeFailure_ = why;
}

void Station::Progress(std::size_t run, RunStage stage, std::uint32_t sent, std::uint32_t size) {
  outer_.Progress(run, stage, sent, size);
  const std::optional<unsigned> tenth = tenths_.Next(run, stage, sent, size);
  if (!tenth) return;
  const std::lock_guard lock(mutex_);
  progress_.emplace_back(run, *tenth * 10);
}

void Station::Ended(std::size_t run, const HeadsetRecord& record) {
  const std::lock_guard lock(mutex_);
  ended_.push_back({run, record, std::exchange(storeFailure_, std::nullopt)});
}

std::vector<HeadsetRecord> Station::Run(ArrivalWatch& watch) {
  for (const HidInterface& attached : AttachedHeadsets(bus_, Vid(), rules_.headsets.pid)) {
    Attached(attached.path);
  }
  for (;;) {
    std::size_t running = fleet_->Watch(std::chrono::milliseconds(0));
    Drain();
    if (running == 0 && !deferred_.empty()) {
      Deferred();
      running = fleet_->Watch(std::chrono::milliseconds(0));
    }
    const bool full = rules_.maxHeadsets > 0 && dealt_ >= rules_.maxHeadsets;
    if ((Stopping() || full) && running == 0) break;
    if (stop_.ending()) return fleet_->records();  // every headset has its record
    const std::optional<BusChange> change = watch.Next(kPaceMs);
    if (!change) continue;
    // Runs that ended before the change came are told first: it may be what follows them.
    Drain();
    if (change->kind == BusChange::Kind::kAttached) {
      Attached(change->path);
    } else {
      Detached();
    }
  }
  Drain();
  return fleet_->records();
}

void Station::Attached(const std::string& path) {
  for (const HidInterface& attached : AttachedHeadsets(bus_, Vid(), rules_.headsets.pid)) {
    if (!EqualsIgnoringAsciiCase(attached.path, path)) continue;
    if (!Chosen(rules_.headsets.usbPorts, attached.usbPort))
      return void(Own(attached, std::nullopt));
    if (attached.firmware() == FirmwareKind::kBoot) return ArriveInBoot(attached, false);
    return Arrive(attached);
  }
  // Gone again: a restart's passing interface, or a short contact.
}

bool Station::Own(const HidInterface& interface, const std::optional<McuId>& mcuId) {
  if (Chosen(rules_.headsets.usbPorts, interface.usbPort) && Chosen(rules_.headsets.mcuIds, mcuId))
    return true;
  StationEvent event =
      StationEvent::Of(Kind::kSkip, RowFor(interface), interface.path, mcuId, interface.firmware());
  event.why = "not this station's";
  tell_(event);
  return false;
}

bool Station::Accepting(const HidInterface& interface, const HeadsetInfo& info) {
  if (rules_.maxHeadsets > 0 && arrivals_ >= rules_.maxHeadsets) return false;
  // One headset per port: whatever was there has left.
  if (!interface.usbPort.empty()) {
    std::erase_if(entries_,
                  [&](const Entry& e) { return !e.running && e.port == interface.usbPort; });
  }
  if (Stopping()) {
    const std::string row = RowFor(interface);
    tell_(StationEvent::Of(Kind::kArrival, row, interface.path, info.mcuId, interface.firmware()));
    Leave(interface, info, row, storeFailed_ ? Failure::kLogStopped : Failure::kStopping);
    return false;
  }
  ++arrivals_;
  return true;
}

void Station::Arrive(const HidInterface& interface) {
  const bool byPort = fleet_->byPort() && !interface.usbPort.empty();
  const auto onPort = [&](const Entry& e) { return e.port == interface.usbPort; };
  // The headset of a run under way, before its restart or back from its reboot.
  if (byPort && std::any_of(entries_.begin(), entries_.end(),
                            [&](const Entry& e) { return e.running && onPort(e); })) {
    return;
  }
  const std::optional<HeadsetInfo> looked = Look(interface.path);
  if (!looked) return;  // a run's own, back after its reboot
  const HeadsetInfo& info = *looked;
  for (Entry& e : entries_) {
    if (!info.mcuId || e.mcuId != info.mcuId) continue;
    if (e.running) return;
    // Back after its reboot (on the same port, where ports are told): done, not an arrival.
    if (e.rebooted && (e.port.empty() || onPort(e))) {
      e.path = interface.path;
      e.away = false;
      return;
    }
  }
  if (!Own(interface, info.mcuId) || !Accepting(interface, info)) return;
  const std::string row = RowFor(interface);
  tell_(StationEvent::Of(Kind::kArrival, row, interface.path, info.mcuId));
  // Its return after the reboot could not be told from another headset's arrival.
  if (!info.mcuId && interface.usbPort.empty()) {
    return Leave(interface, info, row, Failure::kUnidentifiable);
  }
  if (info.mcuId && !rules_.again) {
    if (const auto at = rules_.flashedBefore.find(*info.mcuId); at != rules_.flashedBefore.end()) {
      ++dealt_;
      entries_.push_back({row, interface.usbPort, interface.path, info.mcuId});
      StationEvent event = StationEvent::Of(Kind::kSkip, row, interface.path, info.mcuId);
      event.why = "already flashed with this image";
      event.flashedAt = at->second;
      return tell_(event);
    }
  }
  Start(interface, info, row);
}

void Station::ArriveInBoot(const HidInterface& interface, bool deferred) {
  const bool byPort = fleet_->byPort() && !interface.usbPort.empty();
  if (byPort) {
    // A run's boot firmware, or the boot firmware a run left behind.
    if (std::any_of(entries_.begin(), entries_.end(),
                    [&](const Entry& e) { return e.port == interface.usbPort; })) {
      return;
    }
  } else if (!deferred && std::any_of(entries_.begin(), entries_.end(),
                                      [](const Entry& e) { return e.running; })) {
    // By turns, a run's boot firmware is told by the tracker once its run has ended.
    deferred_.push_back(interface.path);
    return;
  } else if (fleet_->Took(interface.path)) {
    return;
  }
  const std::optional<HeadsetInfo> looked = Look(interface.path);
  if (!looked) return;  // a run's own
  const HeadsetInfo& info = *looked;
  if (info.mcuId && std::any_of(entries_.begin(), entries_.end(),
                                [&](const Entry& e) { return e.mcuId == info.mcuId; })) {
    return;
  }
  if (!Own(interface, info.mcuId) || !Accepting(interface, info)) return;
  const std::string row = RowFor(interface);
  tell_(StationEvent::Of(Kind::kArrival, row, interface.path, info.mcuId, FirmwareKind::kBoot));
  if (rules_.recover) return Start(interface, info, row);
  tell_(StationEvent::Of(Kind::kRecovery, row, interface.path, info.mcuId, FirmwareKind::kBoot));
  Leave(interface, info, row, Failure::kNeedsRecovery);
}

void Station::Deferred() {
  std::vector<std::string> paths;
  paths.swap(deferred_);
  for (const HidInterface& attached : AttachedHeadsets(bus_, Vid(), rules_.headsets.pid)) {
    if (attached.firmware() != FirmwareKind::kBoot) continue;
    for (const std::string& path : paths) {
      if (EqualsIgnoringAsciiCase(attached.path, path)) ArriveInBoot(attached, true);
    }
  }
}

void Station::Start(const HidInterface& interface, const HeadsetInfo& info,
                    const std::string& row) {
  Entry entry{row, interface.usbPort, interface.path, info.mcuId};
  entry.running = true;
  entry.run = fleet_->Start({{interface, info}});
  entries_.push_back(std::move(entry));
  StationEvent event =
      StationEvent::Of(Kind::kStart, row, interface.path, info.mcuId, interface.firmware());
  event.run = entries_.back().run;
  tell_(event);
}

void Station::Leave(const HidInterface& interface, const HeadsetInfo& info, const std::string& row,
                    Failure why) {
  Entry entry{row, interface.usbPort, interface.path, info.mcuId};
  entry.running = true;  // until its record is told
  entry.run = fleet_->Leave({interface, info}, why);
  entries_.push_back(std::move(entry));
}

void Station::Drain() {
  std::vector<std::pair<std::size_t, unsigned>> progress;
  std::vector<EndedRun> ended;
  {
    const std::lock_guard lock(mutex_);
    progress.swap(progress_);
    ended.swap(ended_);
  }
  const auto entryOf = [this](std::size_t run) {
    return std::find_if(entries_.begin(), entries_.end(),
                        [run](const Entry& e) { return e.running && e.run == run; });
  };
  for (const auto& [run, percent] : progress) {
    const auto entry = entryOf(run);
    if (entry == entries_.end()) continue;
    StationEvent event = StationEvent::Of(Kind::kProgress, entry->row, entry->path, entry->mcuId);
    event.percent = percent;
    event.run = run;
    tell_(event);
  }
  std::optional<std::string> storeFailure;
  for (EndedRun& end : ended) {
    if (end.storeFailure) storeFailure = end.storeFailure;
    const auto entry = entryOf(end.run);
    if (entry == entries_.end()) continue;
    ++dealt_;
    entry->running = false;
    const RunOutcome outcome = end.record.outcome();
    entry->rebooted = outcome == RunOutcome::kFlashed || outcome == RunOutcome::kNotBack;
    entry->away = outcome == RunOutcome::kNotBack;
    if (outcome == RunOutcome::kFlashed && entry->mcuId) {
      rules_.flashedBefore[*entry->mcuId] = end.record.ended;
    }
    // It left the bus: whatever is plugged in there next is another arrival.
    const bool left = end.record.ending.failure == Failure::kUnplugged;
    StationEvent event = StationEvent::Of(Kind::kDone, entry->row, entry->path, entry->mcuId);
    event.run = end.run;
    event.record = std::move(end.record);
    tell_(event);
    if (left) {
      tell_(StationEvent::Of(Kind::kUnplug, entry->row, entry->path, entry->mcuId));
      entries_.erase(entry);
    }
  }
  // A headset that left in the middle of its run.
  if (!ended.empty()) Detached();
  if (storeFailure) {
    storeFailed_ = true;
    StationEvent event = StationEvent::Of(Kind::kLogFailed, "", "", std::nullopt);
    event.why = std::move(*storeFailure);
    tell_(event);
  }
}

void Station::Detached() {
  const std::vector<HidInterface> attached = AttachedHeadsets(bus_, Vid(), rules_.headsets.pid);
  std::erase_if(entries_, [&](const Entry& e) {
    if (e.running || e.away || Present(e, attached)) return false;
    tell_(StationEvent::Of(Kind::kUnplug, e.row, e.path, e.mcuId));
    return true;
  });
}

bool Station::Present(const Entry& entry, const std::vector<HidInterface>& attached) {
  return std::any_of(attached.begin(), attached.end(), [&](const HidInterface& i) {
    if (!entry.port.empty() && fleet_->byPort()) return i.usbPort == entry.port;
    if (entry.mcuId) {
      const std::optional<HeadsetInfo> info = Look(i.path);
      return info && info->mcuId == entry.mcuId;  // one that a run keeps is that run's
    }
    return EqualsIgnoringAsciiCase(i.path, entry.path);
  });
}

std::optional<HeadsetInfo> Station::Look(const std::string& path) {
  const InterfaceLeases::Look look(bus_.leases(), path);
  if (!look) return std::nullopt;
  const Result<HeadsetInfo> read = ReadHeadsetInfo(bus_, path);
  return read ? *read : HeadsetInfo{};
}

std::string Station::RowFor(const HidInterface& interface) {
  if (!interface.usbPort.empty()) return interface.usbPort;
  for (const Entry& e : entries_) {
    if (EqualsIgnoringAsciiCase(e.path, interface.path)) return e.row;
  }
  return RowName("", ++portless_);
}

}  // namespace obrint::engine
