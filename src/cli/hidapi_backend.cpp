// Linux: the headset through the kernel's hidraw driver, by way of hidapi's hidraw backend.
//
// hidraw leaves the kernel's HID driver attached (the libusb backend would detach it and take the
// interface away from every other user), passes feature reports through unchanged with
// HIDIOCGFEATURE/HIDIOCSFEATURE, and its /dev/hidraw* nodes get their permissions from udev, so
// the udev rule in packaging/ is all a technician needs to run without root.
#include <hidapi/hidapi.h>

#include <chrono>
#include <memory>
#include <thread>

#include "cli/backend.h"
#include "cli/sysfs_port.h"

namespace obrint::cli {
namespace {

struct DeviceCloser {
  void operator()(hid_device* device) const { hid_close(device); }
};
using DeviceHandle = std::unique_ptr<hid_device, DeviceCloser>;

struct EnumerationFree {
  void operator()(hid_device_info* list) const { hid_free_enumeration(list); }
};
using Enumeration = std::unique_ptr<hid_device_info, EnumerationFree>;

class HidrawDevice : public HidDevice {
 public:
  explicit HidrawDevice(DeviceHandle handle) : handle_(std::move(handle)) {}

  bool GetFeature(std::uint8_t* report, std::size_t length) override {
    return hid_get_feature_report(handle_.get(), report, length) > 0;
  }
  bool SetFeature(const std::uint8_t* report, std::size_t length) override {
    return hid_send_feature_report(handle_.get(), report, length) > 0;
  }

 private:
  DeviceHandle handle_;
};

// Opens like the window does: any interface path; the library itself is linked in, so binding it
// has nothing to do.
class HidrawLink : public HidLink {
 public:
  std::unique_ptr<HidDevice> OpenHidDevice(const std::string& path) override {
    if (path.empty()) return nullptr;
    DeviceHandle handle(hid_open_path(path.c_str()));
    if (!handle) return nullptr;
    return std::make_unique<HidrawDevice>(std::move(handle));
  }
  void LoadHidLibrary() override {}
  void FreeHidLibrary() override {}

  // The first interface of the vendor and product that opens: a device's only interface or its
  // interface 0, as the window's registry search takes them. hidraw lists HID interfaces only,
  // so the class is implied.
  std::optional<std::string> FindHidDevicePath(std::string_view, std::uint16_t vid,
                                               std::uint16_t pid) override {
    Enumeration list(hid_enumerate(vid, pid));
    for (const hid_device_info* info = list.get(); info; info = info->next) {
      if (info->interface_number > 0 || !info->path) continue;
      if (DeviceHandle probe(hid_open_path(info->path)); probe) return std::string(info->path);
    }
    return std::nullopt;
  }
};

class SteadyClock : public Clock {
 public:
  void Sleep(unsigned ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
};

class HidrawBackend : public Backend {
 public:
  ~HidrawBackend() override { hid_exit(); }

  HidLink& link() override { return link_; }
  Clock& clock() override { return clock_; }
  std::string_view name() const override { return "hidraw"; }

  std::vector<AttachedInterface> Enumerate(std::uint16_t vid) override {
    std::vector<AttachedInterface> found;
    Enumeration list(hid_enumerate(vid, 0));
    for (const hid_device_info* info = list.get(); info; info = info->next) {
      if (!info->path) continue;
      found.push_back({info->path, info->vendor_id, info->product_id, info->interface_number,
                       UsbPortOfHidraw("/sys", info->path)});
    }
    return found;
  }

 private:
  HidrawLink link_;
  SteadyClock clock_;
};

}  // namespace

std::unique_ptr<Backend> MakeHardwareBackend(std::string& error) {
  if (hid_init() != 0) {
    error = "the HID library (hidapi, hidraw) could not be started";
    return nullptr;
  }
  return std::make_unique<HidrawBackend>();
}

}  // namespace obrint::cli
