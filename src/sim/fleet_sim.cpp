#include "sim/fleet_sim.h"

#include <chrono>
#include <thread>

#include "core/text.h"

namespace obrint::sim {

struct Fleet::Slot {
  explicit Slot(FleetMember member)
      : headset(std::move(member.headset)), port(std::move(member.port)), link(headset) {}
  Headset headset;
  std::string port;
  SimHidLink link;
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

class Fleet::Link : public HidLink {
 public:
  explicit Link(Fleet& fleet) : fleet_(fleet) {}

  std::unique_ptr<HidDevice> OpenHidDevice(const std::string& path) override {
    const std::lock_guard lock(fleet_.mutex_);
    for (const auto& slot : fleet_.slots_) {
      if (!slot->headset.present() ||
          !EqualsIgnoringAsciiCase(path, slot->headset.interfacePath())) {
        continue;
      }
      std::unique_ptr<HidDevice> device = slot->link.OpenHidDevice(path);
      return device ? std::make_unique<LockedDevice>(std::move(device), fleet_.mutex_) : nullptr;
    }
    return nullptr;
  }
  void LoadHidLibrary() override {
    const std::lock_guard lock(fleet_.mutex_);
    for (const auto& slot : fleet_.slots_) slot->link.LoadHidLibrary();
  }
  void FreeHidLibrary() override {
    const std::lock_guard lock(fleet_.mutex_);
    for (const auto& slot : fleet_.slots_) slot->link.FreeHidLibrary();
  }
  std::optional<std::string> FindHidDevicePath(std::string_view classGuidText, std::uint16_t vid,
                                               std::uint16_t pid) override {
    const std::lock_guard lock(fleet_.mutex_);
    for (const auto& slot : fleet_.slots_) {
      if (auto path = slot->link.FindHidDevicePath(classGuidText, vid, pid)) return path;
    }
    return std::nullopt;
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

Fleet::Fleet(std::vector<FleetMember> members)
    : link_(std::make_unique<Link>(*this)), clock_(std::make_unique<AllClock>(*this)) {
  for (FleetMember& member : members) slots_.push_back(std::make_unique<Slot>(std::move(member)));
}

Fleet::~Fleet() = default;

std::size_t Fleet::size() const { return slots_.size(); }
Headset& Fleet::headset(std::size_t member) { return slots_.at(member)->headset; }
const std::string& Fleet::port(std::size_t member) const { return slots_.at(member)->port; }
HidLink& Fleet::link() { return *link_; }
Clock& Fleet::clock() { return *clock_; }

std::unique_ptr<Clock> Fleet::MemberClock(std::size_t member, bool realTime) {
  return std::make_unique<OneClock>(*this, slots_.at(member)->headset, realTime);
}

std::vector<Fleet::Interface> Fleet::Attached() const {
  const std::lock_guard lock(mutex_);
  std::vector<Interface> attached;
  for (const auto& slot : slots_) {
    if (!slot->headset.present()) continue;
    attached.push_back({slot->headset.interfacePath(), slot->headset.productId(), slot->port});
  }
  return attached;
}

std::optional<std::size_t> Fleet::MemberAt(const std::string& path) const {
  const std::lock_guard lock(mutex_);
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    const Headset& headset = slots_[i]->headset;
    if (headset.present() && EqualsIgnoringAsciiCase(path, headset.interfacePath())) return i;
  }
  return std::nullopt;
}

}  // namespace obrint::sim
