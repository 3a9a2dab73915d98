// Linux: headsets through hidraw.
#include "cli/host.h"
#include "posix/hidraw_bus.h"
#include "posix/udev_watch.h"

namespace obrint::cli {
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

}  // namespace obrint::cli
