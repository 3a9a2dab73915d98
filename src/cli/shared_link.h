// The HID link as several workers share it. The platforms' bindings are process-wide (the first
// bind binds, any release releases at once) and the Windows search answers in a process-wide
// buffer: so binds are counted, the library is released by the last worker to let go, and
// searches and opens take turns.
#pragma once

#include <mutex>

#include "device/ports.h"

namespace obrint::cli {

class SharedHidLink : public HidLink {
 public:
  explicit SharedHidLink(HidLink& inner) : inner_(inner) {}

  std::unique_ptr<HidDevice> OpenHidDevice(const std::string& path) override {
    const std::lock_guard lock(mutex_);
    return inner_.OpenHidDevice(path);
  }
  void LoadHidLibrary() override {
    const std::lock_guard lock(mutex_);
    if (binds_++ == 0) inner_.LoadHidLibrary();
  }
  void FreeHidLibrary() override {
    const std::lock_guard lock(mutex_);
    if (binds_ > 0 && --binds_ == 0) inner_.FreeHidLibrary();
  }
  std::optional<std::string> FindHidDevicePath(std::string_view classGuidText, std::uint16_t vid,
                                               std::uint16_t pid) override {
    const std::lock_guard lock(mutex_);
    return inner_.FindHidDevicePath(classGuidText, vid, pid);
  }
  // Any other look over the bus (a listing of the attached interfaces), in turn with the above.
  template <typename Look>
  auto Serialised(Look&& look) {
    const std::lock_guard lock(mutex_);
    return look();
  }

 private:
  HidLink& inner_;
  std::mutex mutex_;
  int binds_ = 0;
};

}  // namespace obrint::cli
