// The HID bus of the window and of obrint-cli on Windows: interfaces listed from the registry's
// list of HID interfaces (with the USB port the device installer gives), opened through the Hid
// binding over hid.dll, and the headset found by the registry search.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "device/hid_bus.h"

namespace obrint::win {

class Win32HidBus : public HidBus {
 public:
  enum class Binding : std::uint8_t {
    // hid.dll bound by each session, as the window binds it around each headset operation.
    kPerSession,
    // hid.dll bound for the life of the bus, as the command line binds it once: workers on
    // several threads never unbind each other.
    kForLife,
  };
  explicit Win32HidBus(Binding binding = Binding::kPerSession);
  ~Win32HidBus() override;
  Win32HidBus(const Win32HidBus&) = delete;
  Win32HidBus& operator=(const Win32HidBus&) = delete;

  std::vector<HidInterface> Enumerate(std::uint16_t vid) override;
  std::unique_ptr<HidDevice> Open(const std::string& path) override;
  // The registry search FindHidDevicePath, one at a time: it answers in a process-wide buffer.
  std::optional<std::string> Find(std::uint16_t vid, std::uint16_t pid) override;
  std::unique_ptr<Session> OpenSession() override;

 private:
  Binding binding_;
  std::mutex searchMutex_;
};

}  // namespace obrint::win
