#include "posix/hidraw_bus.h"

#include <hidapi/hidapi.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "posix/udev_watch.h"

namespace obrint::posix {
namespace {

using DeviceHandle = std::unique_ptr<hid_device, decltype([](hid_device* d) { hid_close(d); })>;
using Enumeration =
    std::unique_ptr<hid_device_info, decltype([](hid_device_info* l) { hid_free_enumeration(l); })>;

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

}  // namespace

bool IsHidrawNode(const std::string& path) {
  struct stat info {};
  if (path.empty() || ::stat(path.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) return false;
  // The kernel names the class of every character device under /sys/dev/char.
  std::error_code ec;
  const std::filesystem::path subsystem =
      std::filesystem::canonical("/sys/dev/char/" + std::to_string(major(info.st_rdev)) + ":" +
                                     std::to_string(minor(info.st_rdev)) + "/subsystem",
                                 ec);
  return !ec && subsystem.filename() == "hidraw";
}

std::unique_ptr<HidrawBus> HidrawBus::Start() {
  std::unique_ptr<Udev> udev = Udev::Start();
  if (!udev || hid_init() != 0) return nullptr;
  return std::unique_ptr<HidrawBus>(new HidrawBus(std::move(udev)));
}

HidrawBus::~HidrawBus() { hid_exit(); }

std::vector<HidInterface> HidrawBus::Enumerate(std::uint16_t vid) {
  std::vector<HidInterface> attached;
  {
    const std::lock_guard lock(mutex_);
    Enumeration list(hid_enumerate(vid, 0));
    for (const hid_device_info* info = list.get(); info; info = info->next) {
      if (!info->path) continue;
      attached.push_back({info->path, info->vendor_id, info->product_id, info->interface_number,
                          udev_->UsbPortOfNode(info->path)});
    }
  }
  // Only those that open; one that another thread keeps is open for it, and is not opened again.
  std::erase_if(attached, [this](const HidInterface& interface) {
    const InterfaceLeases::Look look(leases(), interface.path);
    return look && !Open(interface.path);
  });
  return attached;
}

std::unique_ptr<HidDevice> HidrawBus::Open(const std::string& path) {
  if (!IsHidrawNode(path)) return nullptr;
  const std::lock_guard lock(mutex_);
  DeviceHandle handle(hid_open_path(path.c_str()));
  if (!handle) return nullptr;
  return std::make_unique<HidrawDevice>(std::move(handle));
}

void SleepClock::Sleep(unsigned ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace obrint::posix
