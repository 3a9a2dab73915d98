// The HID bus and the clock over one simulated headset.
#include "device/text.h"
#include "sim/headset_sim.h"

namespace obrint::sim {
namespace {

// A handle on the headset as it was when opened: it goes stale when the headset restarts.
class SimDevice : public HidDevice {
 public:
  SimDevice(Headset& headset, std::shared_ptr<SimBus::Counters> counters)
      : headset_(headset), counters_(std::move(counters)), generation_(headset.generation()) {
    ++counters_->openHandles;
  }
  ~SimDevice() override { --counters_->openHandles; }
  SimDevice(const SimDevice&) = delete;
  SimDevice& operator=(const SimDevice&) = delete;

  bool GetFeature(std::uint8_t* report, std::size_t length) override {
    return Bound() && headset_.GetFeature(generation_, report, length);
  }
  bool SetFeature(const std::uint8_t* report, std::size_t length) override {
    return Bound() && headset_.SetFeature(generation_, report, length);
  }

 private:
  // Unbound, the entry point is null: the transfer fails before it reaches the headset.
  bool Bound() {
    if (counters_->users == 0) ++counters_->unboundTransfers;
    return counters_->users > 0;
  }

  Headset& headset_;
  std::shared_ptr<SimBus::Counters> counters_;
  std::uint32_t generation_;
};

// One user of the library: the first binds it, the last one's end releases it, as the Hid binding
// counts its users.
class SimSession : public HidBus::Session {
 public:
  explicit SimSession(std::shared_ptr<SimBus::Counters> counters) : counters_(std::move(counters)) {
    if (counters_->users++ == 0) ++counters_->loads;
  }
  ~SimSession() override {
    if (--counters_->users == 0) ++counters_->frees;
  }
  SimSession(const SimSession&) = delete;
  SimSession& operator=(const SimSession&) = delete;

 private:
  std::shared_ptr<SimBus::Counters> counters_;
};

}  // namespace

SimBus::SimBus(Headset& headset, std::string usbPort)
    : headset_(headset), usbPort_(std::move(usbPort)), counters_(std::make_shared<Counters>()) {}

std::vector<HidInterface> SimBus::Enumerate(std::uint16_t vid) {
  if (vid != kHeadsetVendorId || !headset_.present()) return {};
  return {{headset_.interfacePath(), kHeadsetVendorId, headset_.productId(), -1, usbPort_}};
}

std::unique_ptr<HidDevice> SimBus::Open(const std::string& path) {
  if (!headset_.present() || !EqualsIgnoringAsciiCase(path, headset_.interfacePath())) {
    ++counters_->failedOpens;
    return nullptr;
  }
  return std::make_unique<SimDevice>(headset_, counters_);
}

std::optional<std::string> SimBus::Find(std::uint16_t vid, std::uint16_t pid) {
  if (vid != kHeadsetVendorId || !headset_.present() || pid != headset_.productId()) {
    return std::nullopt;
  }
  return headset_.interfacePath();
}

std::unique_ptr<HidBus::Session> SimBus::OpenSession() {
  return std::make_unique<SimSession>(counters_);
}

SimClock::SimClock(Headset& headset) : headset_(headset) {}

void SimClock::Sleep(unsigned ms) {
  waits_.push_back(ms);
  sleptMs_ += ms;
  headset_.Advance(ms);
}

}  // namespace obrint::sim
