// Linux: hidraw interfaces coming and going, told by a udev monitor, and the USB port of a hidraw
// node, read from its udev device. libudev comes with hidapi's hidraw backend already.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "device/arrival_watch.h"

struct udev;
struct udev_monitor;

namespace obrint::posix {

// What the watch reads of one udev device, as plain values: a recorded stream replays through
// ChangeOf without a kernel.
struct UdevEvent {
  std::string action;     // "add", "remove", "change", "bind", ...
  std::string subsystem;  // "hidraw"
  std::string devnode;    // "/dev/hidraw3"
};

// An interface of the hidraw subsystem added or removed; nullopt for any other event.
std::optional<BusChange> ChangeOf(const UdevEvent& event);

// The port from the sysname of a hidraw node's usb_device ancestor ("1-2.3"); empty for a root
// hub ("usb1"), which is no port a headset is plugged into.
std::string UsbPortOf(std::string_view usbDeviceSysname);

// The udev library, for the life of the object.
class Udev {
 public:
  // Null when libudev cannot be started.
  static std::unique_ptr<Udev> Start();
  ~Udev();
  Udev(const Udev&) = delete;
  Udev& operator=(const Udev&) = delete;
  // The USB port of the hidraw node at `devnode`, empty when it has none.
  std::string UsbPortOfNode(const std::string& devnode);
  udev* handle() { return udev_; }

 private:
  explicit Udev(udev* handle) : udev_(handle) {}
  udev* udev_;
};

class UdevWatch : public ArrivalWatch {
 public:
  // A monitor of udev's events on the hidraw subsystem, receiving from now on; null when none can
  // be had.
  static std::unique_ptr<UdevWatch> Start();
  ~UdevWatch() override;
  UdevWatch(const UdevWatch&) = delete;
  UdevWatch& operator=(const UdevWatch&) = delete;

  std::optional<BusChange> Next(unsigned timeoutMs) override;

 private:
  UdevWatch(std::unique_ptr<Udev> udev, udev_monitor* monitor)
      : udev_(std::move(udev)), monitor_(monitor) {}
  std::unique_ptr<Udev> udev_;
  udev_monitor* monitor_;
};

}  // namespace obrint::posix
