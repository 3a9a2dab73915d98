#include "cli/station_run.h"

#include <algorithm>
#include <fstream>

#include "cli/files.h"
#include "cli/log_report.h"
#include "device/headset.h"
#include "device/text.h"

namespace obrint::cli {
namespace {

// The longest the station waits for a change before it looks at its runs and the signals again.
constexpr unsigned kPaceMs = 100;

// "2026-12-07T12:00:00.123Z", as UtcTime writes it.
std::optional<std::chrono::system_clock::time_point> ParseUtcTime(const std::string& text) {
  int year = 0;
  unsigned month = 0, day = 0, hour = 0, minute = 0, second = 0, millis = 0;
  if (std::sscanf(text.c_str(), "%4d-%2u-%2uT%2u:%2u:%2u.%3uZ", &year, &month, &day, &hour, &minute,
                  &second, &millis) != 7) {
    return std::nullopt;
  }
  using namespace std::chrono;
  const year_month_day date{std::chrono::year(year), std::chrono::month(month),
                            std::chrono::day(day)};
  if (!date.ok()) return std::nullopt;
  return time_point_cast<system_clock::duration>(sys_days(date) + hours(hour) + minutes(minute) +
                                                 seconds(second) + milliseconds(millis));
}

}  // namespace

struct StationRun::Entry {
  std::string row, port, path;
  std::optional<McuId> mcuId;
  std::size_t run = 0;    // its index among the fleet's records, once it has one
  bool running = false;   // a worker, or a record on its way
  bool rebooted = false;  // its run went as far as the reboot: its return is no arrival
  bool away = false;      // rebooted and not seen back yet
};

struct StationRun::Ended {
  std::size_t run;
  HeadsetRecord record;
  std::optional<std::string> logFailure;  // the log refused this record: the system's reason
};

std::map<McuId, std::chrono::system_clock::time_point> FlashedBefore(const std::string& logPath,
                                                                     const std::string& sha256,
                                                                     std::uint64_t& passedOver) {
  std::map<McuId, std::chrono::system_clock::time_point> flashed;
  std::ifstream log(PathFromUtf8(logPath), std::ios::binary);
  passedOver = 0;
  ReadLogRecords(
      log,
      [&](const LogRecord& record, std::uint64_t, std::string_view) {
        if (record.outcome != RunOutcome::kFlashed || record.imageSha256 != sha256) return;
        const std::optional<McuId> id = ParseMcuId(record.mcuId);
        const auto when = ParseUtcTime(record.ended);
        if (id && when) flashed[*id] = std::max(flashed[*id], *when);
      },
      [&](std::uint64_t, const std::string&) { ++passedOver; });
  return flashed;
}

StationRun::StationRun(FleetSetup fleet, StationRules rules,
                       std::function<void(const StationEvent&)> tell)
    : bus_(fleet.host.bus()),
      signals_(fleet.signals),
      rules_(std::move(rules)),
      tell_(std::move(tell)) {
  // Told as an event, after the end of the run whose record the log refused.
  fleet.onLogFailed = [this](const std::string& why) {
    const std::lock_guard lock(mutex_);
    logFailure_ = why;
  };
  fleet.onProgress =
      [this, verbose = std::move(fleet.onProgress), tenths = std::vector<unsigned>()](
          std::size_t run, RunStage stage, std::uint32_t sent, std::uint32_t size) mutable {
        if (verbose) verbose(run, stage, sent, size);
        if (stage != RunStage::kFlashing || size == 0) return;
        tenths.resize(std::max(tenths.size(), run + 1));
        const auto tenth = static_cast<unsigned>(std::uint64_t{sent} * 10 / size);
        if (tenth <= tenths[run]) return;
        tenths[run] = tenth;
        const std::lock_guard lock(mutex_);
        progress_.emplace_back(run, tenth * 10);
      };
  fleet.onEnded = [this](std::size_t run, const HeadsetRecord& record) {
    const std::lock_guard lock(mutex_);
    ended_.push_back({run, record, std::exchange(logFailure_, std::nullopt)});
  };
  fleet_ = std::make_unique<Fleet>(std::move(fleet));
}

StationRun::~StationRun() = default;

void StationRun::Tell(StationEvent event) { tell_(event); }

std::vector<HeadsetRecord> StationRun::Run(ArrivalWatch& watch) {
  for (const HidInterface& attached : AttachedHeadsets(bus_, rules_.vid, rules_.pid)) {
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

void StationRun::Attached(const std::string& path) {
  for (const HidInterface& attached : AttachedHeadsets(bus_, rules_.vid, rules_.pid)) {
    if (!EqualsIgnoringAsciiCase(attached.path, path)) continue;
    if (!Chosen(rules_.usbPorts, attached.usbPort)) return void(Own(attached, std::nullopt));
    if (attached.firmware() == FirmwareKind::kBoot) return ArriveInBoot(attached, false);
    return Arrive(attached);
  }
  // Gone again: a restart's passing interface, or a short contact.
}

bool StationRun::Own(const HidInterface& interface, const std::optional<McuId>& mcuId) {
  if (Chosen(rules_.usbPorts, interface.usbPort) && Chosen(rules_.mcuIds, mcuId)) return true;
  StationEvent event = StationEvent::Of(StationEvent::Kind::kSkip, RowFor(interface),
                                        interface.path, mcuId, interface.firmware());
  event.why = "not this station's";
  Tell(std::move(event));
  return false;
}

bool StationRun::Accepting(const HidInterface& interface, const HeadsetInfo& info) {
  if (rules_.maxHeadsets > 0 && arrivals_ >= rules_.maxHeadsets) return false;
  // One headset per port: whatever was there has left.
  if (!interface.usbPort.empty()) {
    std::erase_if(entries_,
                  [&](const Entry& e) { return !e.running && e.port == interface.usbPort; });
  }
  if (Stopping()) {
    const std::string row = RowFor(interface);
    Tell(StationEvent::Of(StationEvent::Kind::kArrival, row, interface.path, info.mcuId,
                          interface.firmware()));
    if (logFailed_) {
      Leave(interface, info, row, Failure::kFileWriteFailed,
            "the station's log cannot be written: not started");
    } else {
      Leave(interface, info, row, Failure::kInterrupted, "the station is stopping: not started");
    }
    return false;
  }
  ++arrivals_;
  return true;
}

void StationRun::Arrive(const HidInterface& interface) {
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
  Tell(StationEvent::Of(StationEvent::Kind::kArrival, row, interface.path, info.mcuId));
  // Its return after the reboot could not be told from another headset's arrival.
  if (!info.mcuId && interface.usbPort.empty()) {
    return Leave(interface, info, row, Failure::kUnidentifiable);
  }
  if (info.mcuId && !rules_.again) {
    if (const auto at = rules_.flashedBefore.find(*info.mcuId); at != rules_.flashedBefore.end()) {
      ++dealt_;
      entries_.push_back({row, interface.usbPort, interface.path, info.mcuId});
      StationEvent event =
          StationEvent::Of(StationEvent::Kind::kSkip, row, interface.path, info.mcuId);
      event.why = "already flashed with this image";
      event.flashedAt = at->second;
      return Tell(std::move(event));
    }
  }
  Start(interface, info, row);
}

void StationRun::ArriveInBoot(const HidInterface& interface, bool deferred) {
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
  Tell(StationEvent::Of(StationEvent::Kind::kArrival, row, interface.path, info.mcuId,
                        FirmwareKind::kBoot));
  if (rules_.recover) return Start(interface, info, row);
  Tell(StationEvent::Of(StationEvent::Kind::kRecovery, row, interface.path, info.mcuId,
                        FirmwareKind::kBoot));
  Leave(interface, info, row, Failure::kNeedsRecovery);
}

void StationRun::Deferred() {
  std::vector<std::string> paths;
  paths.swap(deferred_);
  for (const HidInterface& attached : AttachedHeadsets(bus_, rules_.vid, rules_.pid)) {
    if (attached.firmware() != FirmwareKind::kBoot) continue;
    for (const std::string& path : paths) {
      if (EqualsIgnoringAsciiCase(attached.path, path)) ArriveInBoot(attached, true);
    }
  }
}

void StationRun::Start(const HidInterface& interface, const HeadsetInfo& info,
                       const std::string& row) {
  Entry entry{row, interface.usbPort, interface.path, info.mcuId};
  entry.running = true;
  entry.run = fleet_->Start({{interface, info}});
  entries_.push_back(std::move(entry));
  StationEvent event = StationEvent::Of(StationEvent::Kind::kStart, row, interface.path, info.mcuId,
                                        interface.firmware());
  event.run = entries_.back().run;
  Tell(std::move(event));
}

void StationRun::Leave(const HidInterface& interface, const HeadsetInfo& info,
                       const std::string& row, Failure why, std::string reason) {
  Entry entry{row, interface.usbPort, interface.path, info.mcuId};
  entry.running = true;  // until its record is told
  entry.run = fleet_->Leave({interface, info}, why, std::move(reason));
  entries_.push_back(std::move(entry));
}

void StationRun::Drain() {
  std::vector<std::pair<std::size_t, unsigned>> progress;
  std::vector<Ended> ended;
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
    StationEvent event =
        StationEvent::Of(StationEvent::Kind::kProgress, entry->row, entry->path, entry->mcuId);
    event.percent = percent;
    event.run = run;
    Tell(std::move(event));
  }
  std::optional<std::string> logFailure;
  for (Ended& end : ended) {
    if (end.logFailure) logFailure = end.logFailure;
    const auto entry = entryOf(end.run);
    if (entry == entries_.end()) continue;
    ++dealt_;
    entry->running = false;
    const RunOutcome outcome = end.record.outcome;
    entry->rebooted = outcome == RunOutcome::kFlashed || outcome == RunOutcome::kNotBack;
    entry->away = outcome == RunOutcome::kNotBack;
    if (outcome == RunOutcome::kFlashed && entry->mcuId) {
      rules_.flashedBefore[*entry->mcuId] = end.record.ended;
    }
    // It left the bus: whatever is plugged in there next is another arrival.
    const bool left = end.record.failure == Failure::kUnplugged;
    StationEvent event =
        StationEvent::Of(StationEvent::Kind::kDone, entry->row, entry->path, entry->mcuId);
    event.run = end.run;
    event.record = std::move(end.record);
    Tell(std::move(event));
    if (left) {
      Tell(StationEvent::Of(StationEvent::Kind::kUnplug, entry->row, entry->path, entry->mcuId));
      entries_.erase(entry);
    }
  }
  // A headset that left in the middle of its run.
  if (!ended.empty()) Detached();
  if (logFailure) {
    logFailed_ = true;
    StationEvent event = StationEvent::Of(StationEvent::Kind::kLogFailed, "", "", std::nullopt);
    event.why = std::move(*logFailure);
    Tell(std::move(event));
  }
}

void StationRun::Detached() {
  const std::vector<HidInterface> attached = AttachedHeadsets(bus_, rules_.vid, rules_.pid);
  std::erase_if(entries_, [&](const Entry& e) {
    if (e.running || e.away || Present(e, attached)) return false;
    Tell(StationEvent::Of(StationEvent::Kind::kUnplug, e.row, e.path, e.mcuId));
    return true;
  });
}

bool StationRun::Present(const Entry& entry, const std::vector<HidInterface>& attached) {
  return std::any_of(attached.begin(), attached.end(), [&](const HidInterface& i) {
    if (!entry.port.empty() && fleet_->byPort()) return i.usbPort == entry.port;
    if (entry.mcuId) {
      const std::optional<HeadsetInfo> info = Look(i.path);
      return info && info->mcuId == entry.mcuId;  // one that a run keeps is that run's
    }
    return EqualsIgnoringAsciiCase(i.path, entry.path);
  });
}

std::optional<HeadsetInfo> StationRun::Look(const std::string& path) {
  const InterfaceLeases::Look look(bus_.leases(), path);
  if (!look) return std::nullopt;
  const Result<HeadsetInfo> read = ReadHeadsetInfo(bus_, path);
  return read ? *read : HeadsetInfo{};
}

std::string StationRun::RowFor(const HidInterface& interface) {
  if (!interface.usbPort.empty()) return interface.usbPort;
  for (const Entry& e : entries_) {
    if (EqualsIgnoringAsciiCase(e.path, interface.path)) return e.row;
  }
  std::string row = "#";
  row += std::to_string(++portless_);  // appended: GCC 12 at -O2 warns falsely on "#" + string
  return row;
}

}  // namespace obrint::cli
