// The HID link and the clock over one simulated headset.
#include "core/text.h"
#include "sim/headset_sim.h"

namespace obrint::sim {
namespace {

// A handle on the headset as it was when opened: it goes stale when the headset restarts.
class SimDevice : public HidDevice {
 public:
  SimDevice(Headset& headset, std::shared_ptr<SimHidLink::Counters> counters)
      : headset_(headset), counters_(std::move(counters)), generation_(headset.generation()) {
    ++counters_->openHandles;
  }
  ~SimDevice() override { --counters_->openHandles; }
  SimDevice(const SimDevice&) = delete;
  SimDevice& operator=(const SimDevice&) = delete;

  // Unbound, the entry point is null: the transfer fails before it reaches the headset.
  bool GetFeature(std::uint8_t* report, std::size_t length) override {
    if (!counters_->bound) {
      ++counters_->unboundTransfers;
      return false;
    }
    return headset_.GetFeature(generation_, report, length);
  }
  bool SetFeature(const std::uint8_t* report, std::size_t length) override {
    if (!counters_->bound) {
      ++counters_->unboundTransfers;
      return false;
    }
    return headset_.SetFeature(generation_, report, length);
  }

 private:
  Headset& headset_;
  std::shared_ptr<SimHidLink::Counters> counters_;
  std::uint32_t generation_;
};

}  // namespace

SimHidLink::SimHidLink(Headset& headset)
    : headset_(headset), counters_(std::make_shared<Counters>()) {}

std::unique_ptr<HidDevice> SimHidLink::OpenHidDevice(const std::string& path) {
  if (!headset_.present() || !EqualsIgnoringAsciiCase(path, headset_.interfacePath())) {
    ++counters_->failedOpens;
    return nullptr;
  }
  ++counters_->opens;
  return std::make_unique<SimDevice>(headset_, counters_);
}

void SimHidLink::LoadHidLibrary() {
  if (counters_->bound) return;
  counters_->bound = true;
  ++counters_->loads;
}

void SimHidLink::FreeHidLibrary() {
  if (!counters_->bound) return;
  counters_->bound = false;
  ++counters_->frees;
}

std::optional<std::string> SimHidLink::FindHidDevicePath(std::string_view classGuidText,
                                                         std::uint16_t vid, std::uint16_t pid) {
  ++counters_->searches;
  if (!EqualsIgnoringAsciiCase(classGuidText, kHidClassGuidText) || vid != kHeadsetVendorId ||
      !headset_.present() || pid != headset_.productId()) {
    return std::nullopt;
  }
  return headset_.interfacePath();
}

int SimHidLink::openHandles() const { return counters_->openHandles; }
int SimHidLink::opens() const { return counters_->opens; }
int SimHidLink::failedOpens() const { return counters_->failedOpens; }
int SimHidLink::loads() const { return counters_->loads; }
int SimHidLink::frees() const { return counters_->frees; }
bool SimHidLink::bound() const { return counters_->bound; }
int SimHidLink::searches() const { return counters_->searches; }
int SimHidLink::unboundTransfers() const { return counters_->unboundTransfers; }

SimClock::SimClock(Headset& headset) : headset_(headset) {}

void SimClock::Sleep(unsigned ms) {
  waits_.push_back(ms);
  sleptMs_ += ms;
  headset_.Advance(ms);
}

std::uint64_t SimClock::sleptMs() const { return sleptMs_; }
const std::vector<unsigned>& SimClock::waits() const { return waits_; }

}  // namespace obrint::sim
