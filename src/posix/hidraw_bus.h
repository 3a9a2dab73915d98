// Linux: the HID bus through the kernel's hidraw driver, by way of hidapi's hidraw backend (each
// interface's USB port from its udev device), and a clock of plain sleeps.
//
// hidraw leaves the kernel's HID driver attached (the libusb backend would detach it and take the
// interface away from every other user), passes feature reports through unchanged with
// HIDIOCGFEATURE/HIDIOCSFEATURE, and its /dev/hidraw* nodes get their permissions from udev, so
// the udev rule in packaging/ is all a technician needs to run without root.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "device/clock.h"
#include "device/hid_bus.h"
#include "posix/udev_watch.h"

namespace obrint::posix {

class HidrawBus : public HidBus {
 public:
  // Null when the HID library cannot be started.
  static std::unique_ptr<HidrawBus> Start();
  ~HidrawBus() override;

  std::vector<HidInterface> Enumerate(std::uint16_t vid) override;
  // Opens only what is a hidraw device node: anything else (a file, another device) is never
  // handed to the HID library.
  std::unique_ptr<HidDevice> Open(const std::string& path) override;

 private:
  explicit HidrawBus(std::unique_ptr<Udev> udev) : udev_(std::move(udev)) {}
  std::unique_ptr<Udev> udev_;
  // hidapi keeps its last error in a process-wide place: one enumeration or open at a time.
  std::mutex mutex_;
};

// Whether `path` names a hidraw device node.
bool IsHidrawNode(const std::string& path);

class SleepClock : public Clock {
 public:
  void Sleep(unsigned ms) override;
};

}  // namespace obrint::posix
