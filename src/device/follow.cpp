#include "device/follow.h"

#include <algorithm>

#include "device/headset.h"

namespace obrint {

RestartTracker::RestartTracker(HidBus& bus) : bus_(bus) {}

RestartTracker::Ticket RestartTracker::Learn(const HeadsetIdentity& headset) {
  const std::lock_guard lock(mutex_);
  // Two headsets on one port, or one without, cannot be told apart by port.
  if (headset.usbPort.empty() || busyPorts_.contains(headset.usbPort)) byPort_ = false;
  busyPorts_.insert(headset.usbPort);
  ports_.insert(headset.usbPort);
  ownPaths_.insert(headset.path);
  if (headset.mcuId) mcuIds_.push_back(*headset.mcuId);
  open_.insert(nextTicket_);
  return nextTicket_++;
}

void RestartTracker::Forget(const HeadsetIdentity& headset) {
  const std::lock_guard lock(mutex_);
  if (const auto at = busyPorts_.find(headset.usbPort); at != busyPorts_.end())
    busyPorts_.erase(at);
}

bool RestartTracker::byPort() const {
  const std::lock_guard lock(mutex_);
  return byPort_;
}

RestartTracker::Turn::Turn(RestartTracker& tracker, Ticket ticket)
    : tracker_(&tracker), ticket_(ticket) {
  {
    std::unique_lock lock(tracker.mutex_);
    byPort_ = tracker.byPort_;
    if (byPort_) {
      ++tracker.portTurns_;
      return;
    }
    // A restart followed by its port may still be under way: its boot firmware is not new.
    // Every turn before this one has ended (a ticket whose own turn has ended waits for none).
    tracker.turnEnded_.wait(lock, [&tracker, ticket] {
      return (tracker.open_.empty() || *tracker.open_.begin() >= ticket) && tracker.portTurns_ == 0;
    });
  }
  for (const HidInterface& boot : tracker.Firsts(FirmwareKind::kBoot)) {
    bootBefore_.insert(boot.path);
  }
}

RestartTracker::Turn::~Turn() { End(); }

void RestartTracker::Turn::End() {
  if (!tracker_) return;
  {
    const std::lock_guard lock(tracker_->mutex_);
    tracker_->Ended(*this);
  }
  tracker_->turnEnded_.notify_all();
  tracker_ = nullptr;
}

void RestartTracker::Ended(Turn& turn) {
  // A headset that restarted and was not found again may show up at any time later.
  if (turn.restarted_ && !turn.found_) ++unresolved_;
  if (turn.byPort_) --portTurns_;
  open_.erase(turn.ticket_);
}

RestartTracker::Turn RestartTracker::TakeTurn(Ticket ticket) { return Turn(*this, ticket); }

std::vector<HidInterface> RestartTracker::Firsts(FirmwareKind kind) {
  std::vector<HidInterface> found = AttachedHeadsets(bus_, kHeadsetVendorId);
  std::erase_if(found, [kind](const HidInterface& i) { return i.firmware() != kind; });
  return found;
}

std::optional<McuId> RestartTracker::McuIdAt(const std::string& path) {
  const Result<HeadsetInfo> info = ReadHeadsetInfo(bus_, path);
  return info ? info->mcuId : std::nullopt;
}

std::optional<std::string> RestartTracker::FindBoot(const HeadsetIdentity& headset, Turn& turn) {
  std::vector<std::string> candidates;
  for (const HidInterface& boot : Firsts(FirmwareKind::kBoot)) {
    if (turn.byPort_ ? boot.usbPort == headset.usbPort : !turn.bootBefore_.contains(boot.path)) {
      candidates.push_back(boot.path);
    }
  }
  // By port, the port tells; the boot firmware's own check follows once it is open.
  if (turn.byPort_) {
    if (candidates.size() != 1 || !bus_.leases().Keep(candidates.front())) return std::nullopt;
    return candidates.front();
  }

  std::optional<std::string> anonymous;
  int anonymousCount = 0;
  for (const std::string& path : candidates) {
    InterfaceLeases::Look look(bus_.leases(), path);
    if (!look) continue;  // another run's
    const std::optional<McuId> id = McuIdAt(path);
    if (id && headset.mcuId) {
      if (*id != *headset.mcuId) continue;  // another headset's
      look.Keep();
      return path;
    }
    anonymous = path;
    ++anonymousCount;
  }
  if (!anonymous) return std::nullopt;
  turn.unidentified_ = true;
  int unresolved = 0;
  {
    const std::lock_guard lock(mutex_);
    unresolved = unresolved_;
  }
  if (candidates.size() == 1 && anonymousCount == 1 && unresolved == 0 &&
      bus_.leases().Keep(*anonymous)) {
    return anonymous;
  }
  return std::nullopt;
}

void RestartTracker::Arm(UpgradeHooks& hooks, const HeadsetIdentity& headset, Turn& turn) {
  hooks.findBootFirmware = [this, &headset, &turn] { return FindBoot(headset, turn); };
  hooks.isOwnBootFirmware = [&headset](HidDevice& boot) {
    if (!headset.mcuId) return true;
    ReportBuffer buffer{};
    const Result<McuId> id = ReadMcuId(boot, buffer);
    return !id || *id == *headset.mcuId;
  };
  hooks.onStep = [this, &turn, earlier = std::move(hooks.onStep)](const UpgradeEvent& event) {
    if (earlier) earlier(event);
    if (event.step == UpgradeStep::kRestarting) turn.restarted_ = true;
    if (event.step != UpgradeStep::kBootFound) return;
    {
      const std::lock_guard lock(mutex_);
      taken_.insert(std::string(event.path));
    }
    turn.found_ = true;
    turn.End();
  };
}

Failure RestartTracker::Explain(Failure failure, const Turn& turn) {
  return failure == Failure::kBootNotFound && turn.unidentified_ ? Failure::kNotIdentified
                                                                 : failure;
}

Result<std::uint16_t> RestartTracker::AwaitReturn(Clock& clock, unsigned timeoutMs,
                                                  const HeadsetIdentity& headset,
                                                  const Turn& turn) {
  const bool byPort = turn.byPort_;
  if (!byPort && !headset.mcuId) return Failure::kNotBack;
  std::optional<std::uint16_t> version;
  const auto look = [&]() -> std::optional<std::string> {
    for (const HidInterface& back : Firsts(FirmwareKind::kApplication)) {
      if (byPort && back.usbPort != headset.usbPort) continue;
      InterfaceLeases::Look look(bus_.leases(), back.path);
      if (!look) continue;  // another run's headset
      const Result<HeadsetInfo> info = ReadHeadsetInfo(bus_, back.path);
      if (!info || !info->firmwareVersion) continue;
      // By port the MCU ID confirms where both are known; by turns it alone tells.
      if (byPort ? headset.mcuId && info->mcuId && info->mcuId != headset.mcuId
                 : info->mcuId != headset.mcuId) {
        continue;
      }
      version = info->firmwareVersion;
      look.Keep();
      return back.path;
    }
    return std::nullopt;
  };
  if (!AwaitInterface(clock, timeoutMs, look)) return Failure::kNotBack;
  return *version;
}

bool RestartTracker::Took(const std::string& path) const {
  const std::lock_guard lock(mutex_);
  return taken_.contains(path);
}

std::vector<HidInterface> RestartTracker::Strays() {
  std::vector<HidInterface> strays = Firsts(FirmwareKind::kBoot);
  const bool byPort = this->byPort();
  std::erase_if(strays, [this, byPort](const HidInterface& boot) {
    const std::optional<McuId> id = byPort ? std::nullopt : McuIdAt(boot.path);
    const std::lock_guard lock(mutex_);
    if (byPort) return ports_.contains(boot.usbPort);
    if (id) return std::find(mcuIds_.begin(), mcuIds_.end(), *id) != mcuIds_.end();
    return taken_.contains(boot.path) || ownPaths_.contains(boot.path);
  });
  return strays;
}

}  // namespace obrint
