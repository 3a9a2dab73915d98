// Linux: headsets through hidraw, arrivals told by udev, and plain sleeps.
#include <unistd.h>

#include "engine/host.h"
#include "posix/hidraw_bus.h"
#include "posix/udev_watch.h"

namespace obrint::engine {
namespace {

class HidrawHost : public Host {
 public:
  explicit HidrawHost(std::unique_ptr<posix::HidrawBus> bus) : bus_(std::move(bus)) {}
  HidBus& bus() override { return *bus_; }
  Clock& clock() override { return clock_; }
  std::string_view name() const override { return "hidraw"; }
  std::unique_ptr<ArrivalWatch> WatchArrivals() override { return posix::UdevWatch::Start(); }

 private:
  std::unique_ptr<posix::HidrawBus> bus_;
  posix::SleepClock clock_;
};

}  // namespace

Result<std::unique_ptr<Host>> MakeHardwareHost() {
  std::unique_ptr<posix::HidrawBus> bus = posix::HidrawBus::Start();
  if (!bus) return Failure::kNoHeadset;
  return std::unique_ptr<Host>(std::make_unique<HidrawHost>(std::move(bus)));
}

std::string HostName() {
  char name[256] = "";
  if (::gethostname(name, sizeof name - 1) == 0 && name[0] != '\0') return name;
  return "station";
}

}  // namespace obrint::engine
