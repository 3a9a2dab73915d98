// Where the command line finds headsets: the platform's HID stack, or the built-in virtual headset.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/ports.h"

namespace obrint::cli {

// One attached HID interface of the headset's vendor.
struct AttachedInterface {
  std::string path;
  std::uint16_t vid = 0;
  std::uint16_t pid = 0;
  int interfaceNumber = -1;  // -1 when the platform does not tell
};

class Backend {
 public:
  virtual ~Backend() = default;
  virtual HidLink& link() = 0;
  virtual Clock& clock() = 0;
  // The attached interfaces whose vendor ID is `vid`, in the platform's order.
  virtual std::vector<AttachedInterface> Enumerate(std::uint16_t vid) = 0;
  // "sim", "hidraw" or "hid.dll", for the output.
  virtual std::string_view name() const = 0;
  // Ends the command: keeps whatever must outlive it. False, with the reason, when it could not.
  virtual bool Finish(std::string& error) {
    (void)error;
    return true;
  }
};

// The virtual headset, fresh or loaded from `stateFile` (when not empty and present); its state
// goes back there at Finish. Null, with the reason, when the file cannot be read or is no headset
// state.
std::unique_ptr<Backend> MakeSimBackend(const std::string& stateFile, std::string& error);

// The platform's HID stack: hidraw through hidapi on Linux, hid.dll on Windows. Null, with the
// reason, when it cannot be started.
std::unique_ptr<Backend> MakeHardwareBackend(std::string& error);

}  // namespace obrint::cli
