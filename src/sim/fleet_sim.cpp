#include "sim/fleet_sim.h"

#include <chrono>
#include <set>
#include <thread>

#include "device/text.h"

namespace obrint::sim {

struct Fleet::Slot {
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
};

namespace {

// A member's handle whose every transfer, and its closing, happen under the fleet's lock.
class LockedDevice : public HidDevice {
 public:
  LockedDevice(std::unique_ptr<HidDevice> inner, std::mutex& mutex)
      : inner_(std::move(inner)), mutex_(mutex) {}
  ~LockedDevice() override {
    const std::lock_guard lock(mutex_);
    inner_.reset();
  }
  LockedDevice(const LockedDevice&) = delete;
  LockedDevice& operator=(const LockedDevice&) = delete;

  bool GetFeature(std::uint8_t* report, std::size_t length) override {
    const std::lock_guard lock(mutex_);
    return inner_->GetFeature(report, length);
  }
  bool SetFeature(const std::uint8_t* report, std::size_t length) override {
    const std::lock_guard lock(mutex_);
    return inner_->SetFeature(report, length);
  }

 private:
  std::unique_ptr<HidDevice> inner_;
  std::mutex& mutex_;
};

}  // namespace

class Fleet::Bus : public HidBus {
 public:
  explicit Bus(Fleet& fleet) : fleet_(fleet) {}

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
    const std::lock_guard lock(fleet_.mutex_);
    fleet_.Settle();
    for (const auto& slot : fleet_.slots_) {
      if (!slot->headset.present() || !EqualsIgnoringAsciiCase(path, fleet_.PathOf(*slot))) {
        continue;
      }
      std::unique_ptr<HidDevice> device = slot->bus.Open(slot->headset.interfacePath());
      return device ? std::make_unique<LockedDevice>(std::move(device), fleet_.mutex_) : nullptr;
    }
    return nullptr;
  }

 private:
  Fleet& fleet_;
};

class Fleet::AllClock : public Clock {
 public:
  explicit AllClock(Fleet& fleet) : fleet_(fleet) {}
  void Sleep(unsigned ms) override {
    const std::lock_guard lock(fleet_.mutex_);
    for (const auto& slot : fleet_.slots_) slot->headset.Advance(ms);
  }

 private:
  Fleet& fleet_;
};

class Fleet::OneClock : public Clock {
 public:
  OneClock(Fleet& fleet, Headset& headset, bool realTime)
      : fleet_(fleet), headset_(headset), realTime_(realTime) {}
  void Sleep(unsigned ms) override {
    if (realTime_) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    const std::lock_guard lock(fleet_.mutex_);
    headset_.Advance(ms);
  }

 private:
  Fleet& fleet_;
  Headset& headset_;
  bool realTime_;
};

Fleet::Fleet(std::vector<FleetMember> members, PathScheme paths)
    : paths_(paths), bus_(std::make_unique<Bus>(*this)), clock_(std::make_unique<AllClock>(*this)) {
  for (FleetMember& member : members) slots_.push_back(std::make_unique<Slot>(std::move(member)));
}

Fleet::~Fleet() = default;

std::size_t Fleet::size() const { return slots_.size(); }
Headset& Fleet::headset(std::size_t member) { return slots_.at(member)->headset; }
const std::string& Fleet::usbPort(std::size_t member) const { return slots_.at(member)->usbPort; }
HidBus& Fleet::bus() { return *bus_; }
Clock& Fleet::clock() { return *clock_; }

std::unique_ptr<Clock> Fleet::MemberClock(std::size_t member, bool realTime) {
  return std::make_unique<OneClock>(*this, slots_.at(member)->headset, realTime);
}

std::optional<std::size_t> Fleet::MemberAt(const std::string& path) {
  const std::lock_guard lock(mutex_);
  Settle();
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    const Slot& slot = *slots_[i];
    if (slot.headset.present() && EqualsIgnoringAsciiCase(path, PathOf(slot))) return i;
  }
  return std::nullopt;
}

void Fleet::Settle() {
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
  if (paths_ != PathScheme::kReusedNodes) return;
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

std::string Fleet::PathOf(const Slot& slot) const {
  if (paths_ == PathScheme::kPerHeadset || !slot.node) return slot.headset.interfacePath();
  return "/dev/hidraw" + std::to_string(*slot.node);
}

}  // namespace obrint::sim
