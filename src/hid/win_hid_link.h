// The HID link of the window and the command line: hid.dll through the process-wide Hid binding,
// interfaces opened with OpenHidDevice, and the registry search for the headset's interface.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/ports.h"

namespace obrint::win {

class WinHidLink : public HidLink {
 public:
  std::unique_ptr<HidDevice> OpenHidDevice(const std::string& path) override;
  void LoadHidLibrary() override;
  void FreeHidLibrary() override;
  std::optional<std::string> FindHidDevicePath(std::string_view classGuidText, std::uint16_t vid,
                                               std::uint16_t pid) override;
};

}  // namespace obrint::win
