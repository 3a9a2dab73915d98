#include "sim/fleet_sim.h"

#include <chrono>
#include <set>
#include <thread>

#include "device/text.h"

namespace obrint::sim {

struct VirtualFleet::Slot {
  explicit Slot(FleetMember member)
      : headset(std::move(member.headset)), usbPort(std::move(member.usbPort)), bus(headset) {}
  Headset headset;
  std::string usbPort;
  SimBus bus;
  // Bound for the fleet's life, as a command line binds its HID library once.
  std::unique_ptr<HidBus::Session> session = bus.OpenSession();
  // kReusedNodes: the number the interface holds, and the generation it was given for.
  std::optional<unsigned> node;
  std::uint32_t nodeGeneration = 0;
  // A late boot firmware: the other members' restarts when it began to wait.
  std::optional<int> othersAtWait;
  // The interface last told of: its path while on the bus, and under which generation.
  std::optional<std::string> toldPath;
  std::uint32_t toldGeneration = 0;
  int clocks = 0;  // member clocks in use
  std::chrono::steady_clock::time_point pluggedAt;
};

// A member's handle whose every transfer, and its closing, happen under the fleet's lock; a
// transfer may take the headset off the bus.
class VirtualFleet::Device : public HidDevice {
 public:
  Device(std::unique_ptr<HidDevice> inner, VirtualFleet& fleet)
      : inner_(std::move(inner)), fleet_(fleet) {}
  ~Device() override {
    const std::lock_guard lock(fleet_.mutex_);
    inner_.reset();
  }
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  bool GetFeature(std::uint8_t* report, std::size_t length) override {
    const std::lock_guard lock(fleet_.mutex_);
    const bool ok = inner_->GetFeature(report, length);
    fleet_.Settle();
    return ok;
  }
  bool SetFeature(const std::uint8_t* report, std::size_t length) override {
    const std::lock_guard lock(fleet_.mutex_);
    const bool ok = inner_->SetFeature(report, length);
    fleet_.Settle();
    return ok;
  }

 private:
  std::unique_ptr<HidDevice> inner_;
  VirtualFleet& fleet_;
};

class VirtualFleet::Bus : public HidBus {
 public:
  explicit Bus(VirtualFleet& fleet) : fleet_(fleet) {}

  std::vector<HidInterface> Enumerate(std::uint16_t vid) override {
    const std::lock_guard lock(fleet_.mutex_);
    fleet_.Settle();
    std::vector<HidInterface> found;
    if (vid != kHeadsetVendorId) return found;
    for (const auto& slot : fleet_.slots_) {
      if (!slot->headset.present()) continue;
      found.push_back(
          {fleet_.PathOf(*slot), kHeadsetVendorId, slot->headset.productId(), -1, slot->usbPort});
    }
    return found;
  }
  std::unique_ptr<HidDevice> Open(const std::string& path) override {
    if (leases().HeldByOther(path)) ++fleet_.leaseBreaches_;
    const std::lock_guard lock(fleet_.mutex_);
    fleet_.Settle();
    for (const auto& slot : fleet_.slots_) {
      if (!slot->headset.present() || !EqualsIgnoringAsciiCase(path, fleet_.PathOf(*slot))) {
        continue;
      }
      std::unique_ptr<HidDevice> device = slot->bus.Open(slot->headset.interfacePath());
      return device ? std::make_unique<Device>(std::move(device), fleet_) : nullptr;
    }
    return nullptr;
  }

 private:
  VirtualFleet& fleet_;
};

class VirtualFleet::AllClock : public Clock {
 public:
  explicit AllClock(VirtualFleet& fleet) : fleet_(fleet) {}
  void Sleep(unsigned ms) override {
    const std::lock_guard lock(fleet_.mutex_);
    for (const auto& slot : fleet_.slots_) slot->headset.Advance(ms);
    fleet_.Settle();
  }

 private:
  VirtualFleet& fleet_;
};

class VirtualFleet::OneClock : public Clock {
 public:
  OneClock(VirtualFleet& fleet, Slot& slot, bool realTime)
      : fleet_(fleet), slot_(slot), realTime_(realTime) {
    const std::lock_guard lock(fleet_.mutex_);
    ++slot_.clocks;
  }
  ~OneClock() override {
    const std::lock_guard lock(fleet_.mutex_);
    --slot_.clocks;
    fleet_.moved_.notify_all();
  }
  OneClock(const OneClock&) = delete;
  OneClock& operator=(const OneClock&) = delete;

  void Sleep(unsigned ms) override {
    if (realTime_) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    std::unique_lock lock(fleet_.mutex_);
    Headset& headset = slot_.headset;
    const std::uint64_t until = headset.nowMs() + ms;
    // Held time: up to it, then on once it moves past.
    while (!realTime_ && fleet_.heldAt_ && *fleet_.heldAt_ < until) {
      if (headset.nowMs() < *fleet_.heldAt_)
        Move(static_cast<unsigned>(*fleet_.heldAt_ - headset.nowMs()));
      fleet_.moved_.wait(lock);
    }
    Move(static_cast<unsigned>(until - headset.nowMs()));
  }

 private:
  // Under the lock.
  void Move(unsigned ms) {
    slot_.headset.Advance(ms);
    fleet_.Settle();
    fleet_.moved_.notify_all();
  }

  VirtualFleet& fleet_;
  Slot& slot_;
  bool realTime_;
};

VirtualFleet::VirtualFleet(std::vector<FleetMember> members, PathScheme paths)
    : paths_(paths), bus_(std::make_unique<Bus>(*this)), clock_(std::make_unique<AllClock>(*this)) {
  for (FleetMember& member : members) slots_.push_back(std::make_unique<Slot>(std::move(member)));
}

VirtualFleet::~VirtualFleet() = default;

Headset& VirtualFleet::headset(std::size_t member) { return slots_.at(member)->headset; }
HidBus& VirtualFleet::bus() { return *bus_; }
Clock& VirtualFleet::clock() { return *clock_; }

std::unique_ptr<Clock> VirtualFleet::MemberClock(std::size_t member, bool realTime) {
  return std::make_unique<OneClock>(*this, *slots_.at(member), realTime);
}

std::optional<std::size_t> VirtualFleet::MemberAt(const std::string& path) {
  const std::lock_guard lock(mutex_);
  Settle();
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    const Slot& slot = *slots_[i];
    if (slot.headset.present() && EqualsIgnoringAsciiCase(path, PathOf(slot))) return i;
  }
  return std::nullopt;
}

void VirtualFleet::Plug(std::size_t member, std::uint64_t atMs, std::optional<Firmware> firmware) {
  const std::lock_guard lock(mutex_);
  Slot& slot = *slots_.at(member);
  if (slot.headset.nowMs() < atMs)
    slot.headset.Advance(static_cast<unsigned>(atMs - slot.headset.nowMs()));
  slot.headset.PlugIn(firmware);
  slot.pluggedAt = std::chrono::steady_clock::now();
  Settle();
  moved_.notify_all();
}

void VirtualFleet::Unplug(std::size_t member) {
  const std::lock_guard lock(mutex_);
  slots_.at(member)->headset.Unplug();
  Settle();
  moved_.notify_all();
}

void VirtualFleet::TellChanges() {
  const std::lock_guard lock(mutex_);
  Settle();
  for (const auto& slot : slots_) {
    if (!slot->headset.present()) continue;
    slot->toldPath = PathOf(*slot);
    slot->toldGeneration = slot->headset.generation();
  }
  telling_ = true;
}

std::optional<BusChange> VirtualFleet::NextChange(std::chrono::milliseconds wait) {
  std::unique_lock lock(mutex_);
  if (changes_.empty()) moved_.wait_for(lock, wait);
  if (changes_.empty()) return std::nullopt;
  BusChange change = std::move(changes_.front());
  changes_.pop_front();
  return change;
}

void VirtualFleet::HoldTime(std::optional<std::uint64_t> ms) {
  const std::lock_guard lock(mutex_);
  heldAt_ = ms;
  moved_.notify_all();
}

bool VirtualFleet::Reached(std::uint64_t ms) {
  // Long enough for a station to see the arrival and start its run.
  constexpr auto kAboutToRun = std::chrono::milliseconds(100);
  const auto now = std::chrono::steady_clock::now();
  const std::lock_guard lock(mutex_);
  for (const auto& slot : slots_) {
    const bool running =
        slot->clocks > 0 || (slot->headset.present() && now - slot->pluggedAt < kAboutToRun);
    if (running && slot->headset.nowMs() < ms) return false;
  }
  return true;
}

void VirtualFleet::Settle() {
  int restarts = 0;
  for (const auto& slot : slots_) restarts += slot->headset.restarts();
  for (const auto& slot : slots_) {
    const int others = restarts - slot->headset.restarts();
    if (!slot->headset.waitingForAnother()) {
      slot->othersAtWait.reset();
    } else if (!slot->othersAtWait) {
      slot->othersAtWait = others;
    } else if (others > *slot->othersAtWait) {
      slot->headset.CompleteRestart();
      slot->othersAtWait.reset();
    }
  }
  if (paths_ == PathScheme::kReusedNodes) Renumber();
  if (!telling_) return;
  // What left first, then what came, each in the members' order.
  for (const auto& slot : slots_) {
    const bool current =
        slot->headset.present() && slot->toldGeneration == slot->headset.generation();
    if (!slot->toldPath || current) continue;
    changes_.push_back({BusChange::Kind::kDetached, *slot->toldPath});
    slot->toldPath.reset();
  }
  for (const auto& slot : slots_) {
    if (slot->toldPath || !slot->headset.present()) continue;
    slot->toldPath = PathOf(*slot);
    slot->toldGeneration = slot->headset.generation();
    changes_.push_back({BusChange::Kind::kAttached, *slot->toldPath});
  }
}

void VirtualFleet::Renumber() {
  // First free what went away, then number what came, in the members' order.
  std::set<unsigned> taken;
  for (const auto& slot : slots_) {
    const bool current =
        slot->headset.present() && slot->nodeGeneration == slot->headset.generation();
    if (!current) slot->node.reset();
    if (slot->node) taken.insert(*slot->node);
  }
  for (const auto& slot : slots_) {
    if (slot->node || !slot->headset.present()) continue;
    unsigned node = 0;
    while (taken.contains(node)) ++node;
    taken.insert(node);
    slot->node = node;
    slot->nodeGeneration = slot->headset.generation();
  }
}

std::string VirtualFleet::PathOf(const Slot& slot) const {
  if (paths_ == PathScheme::kPerHeadset || !slot.node) return slot.headset.interfacePath();
  return "/dev/hidraw" + std::to_string(*slot.node);
}

}  // namespace obrint::sim
