// The HID link of the window and the command line: interfaces opened through the Hid binding over
// hid.dll, and the headset's interface found in the registry's list of HID interfaces.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// One HID interface of the registry's list whose device is attached.
struct HidInterface {
  std::string path;
  std::uint16_t vid = 0;
  std::uint16_t pid = 0;
  int interfaceNumber = -1;  // from "&MI_xx" after the product ID; -1 for a single interface
  // The USB port the device is plugged into, as the device installer's location path gives it;
  // empty when the system tells none.
  std::string port;
};

// Every interface of the HID class whose name carries vendor `vid` and whose path opens, in the
// registry's order, with the paths the headset search builds.
std::vector<HidInterface> AttachedHidInterfaces(std::uint16_t vid);

}  // namespace obrint::win
