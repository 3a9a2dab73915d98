#include "posix/udev_watch.h"

#include <libudev.h>
#include <poll.h>
#include <sys/stat.h>

#include <chrono>

namespace obrint::posix {
namespace {

using UdevDevice =
    std::unique_ptr<udev_device, decltype([](udev_device* d) { udev_device_unref(d); })>;

std::string Text(const char* text) { return text ? text : ""; }

}  // namespace

std::optional<BusChange> ChangeOf(const UdevEvent& event) {
  if (event.subsystem != "hidraw" || event.devnode.empty()) return std::nullopt;
  if (event.action == "add") return BusChange{BusChange::Kind::kAttached, event.devnode};
  if (event.action == "remove") return BusChange{BusChange::Kind::kDetached, event.devnode};
  return std::nullopt;
}

std::string UsbPortOf(std::string_view usbDeviceSysname) {
  if (usbDeviceSysname.starts_with("usb")) return "";
  return std::string(usbDeviceSysname);
}

std::unique_ptr<Udev> Udev::Start() {
  udev* handle = udev_new();
  return handle ? std::unique_ptr<Udev>(new Udev(handle)) : nullptr;
}

Udev::~Udev() { udev_unref(udev_); }

std::string Udev::UsbPortOfNode(const std::string& devnode) {
  struct stat info {};
  if (::stat(devnode.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) return "";
  const UdevDevice device(udev_device_new_from_devnum(udev_, 'c', info.st_rdev));
  if (!device) return "";
  // The parent belongs to the device and goes with it.
  udev_device* usb =
      udev_device_get_parent_with_subsystem_devtype(device.get(), "usb", "usb_device");
  return usb ? UsbPortOf(Text(udev_device_get_sysname(usb))) : "";
}

std::unique_ptr<UdevWatch> UdevWatch::Start() {
  std::unique_ptr<Udev> context = Udev::Start();
  if (!context) return nullptr;
  udev_monitor* monitor = udev_monitor_new_from_netlink(context->handle(), "udev");
  if (!monitor) return nullptr;
  if (udev_monitor_filter_add_match_subsystem_devtype(monitor, "hidraw", nullptr) < 0 ||
      udev_monitor_enable_receiving(monitor) < 0) {
    udev_monitor_unref(monitor);
    return nullptr;
  }
  return std::unique_ptr<UdevWatch>(new UdevWatch(std::move(context), monitor));
}

UdevWatch::~UdevWatch() { udev_monitor_unref(monitor_); }

std::optional<BusChange> UdevWatch::Next(unsigned timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd ready{udev_monitor_get_fd(monitor_), POLLIN, 0};
    if (left.count() < 0 || ::poll(&ready, 1, static_cast<int>(left.count())) <= 0) {
      return std::nullopt;
    }
    const UdevDevice device(udev_monitor_receive_device(monitor_));
    if (!device) continue;
    const UdevEvent event{Text(udev_device_get_action(device.get())),
                          Text(udev_device_get_subsystem(device.get())),
                          Text(udev_device_get_devnode(device.get()))};
    if (std::optional<BusChange> change = ChangeOf(event)) return change;
  }
}

}  // namespace obrint::posix
