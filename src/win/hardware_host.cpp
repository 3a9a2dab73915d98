// Windows: headsets through hid.dll, bound once for the command, arrivals told by a window, and
// the Windows clock.
#include <windows.h>

#include "engine/host.h"
#include "win/arrival_watch_win.h"
#include "win/clock.h"
#include "win/hid_bus.h"

namespace obrint::engine {
namespace {

class Win32Host : public Host {
 public:
  HidBus& bus() override { return bus_; }
  Clock& clock() override { return clock_; }
  std::string_view name() const override { return "hid.dll"; }
  std::unique_ptr<ArrivalWatch> WatchArrivals() override { return win::InterfaceWatch::Start(); }

 private:
  win::Win32HidBus bus_{win::Win32HidBus::Binding::kForLife};
  win::Win32Clock clock_;
};

}  // namespace

Result<std::unique_ptr<Host>> MakeHardwareHost() {
  return std::unique_ptr<Host>(std::make_unique<Win32Host>());
}

std::string HostName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = "";
  DWORD size = sizeof name;
  if (::GetComputerNameA(name, &size)) return name;
  return "station";
}

}  // namespace obrint::engine
