// Linux: headsets through hidraw; the process as POSIX gives it.
#include <sys/ioctl.h>
#include <unistd.h>

#include <csignal>

#include "cli/command.h"
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

std::span<const Command* const> PlatformCommands() {
  static const Command* const kDatabase[] = {&kPushCommand, &kDbCommand};
  return kDatabase;
}

Process::Process(int argc, char** argv)
    : arguments_(argv, argv + argc),
      errIsTerminal_(isatty(STDERR_FILENO) != 0),
      errTakesEscapes_(true),
      inIsTerminal_(isatty(STDIN_FILENO) != 0) {
  // A file size limit then fails the write (EFBIG), which is told, and not the whole process.
  std::signal(SIGXFSZ, SIG_IGN);
}

Process::~Process() = default;

TerminalSize Process::ErrorTerminalSize() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) return {};
  return {size.ws_col, size.ws_row};
}

std::string HostName() {
  char name[256] = "";
  if (::gethostname(name, sizeof name - 1) == 0 && name[0] != '\0') return name;
  return "station";
}

}  // namespace obrint::cli
