// One open HID interface, as far as feature reports go: over hidraw on Linux, hid.dll on Windows,
// or the simulator. Destroying the object closes the device.
#pragma once

#include <cstddef>
#include <cstdint>

namespace obrint {

class HidDevice {
 public:
  virtual ~HidDevice() = default;

  // Reads the feature report whose ID the caller has put into report[0]; `length` counts that
  // byte. True when the transfer was done. Touches no byte at or past report[length].
  virtual bool GetFeature(std::uint8_t* report, std::size_t length) = 0;

  // Sends the first `length` bytes of `report` unchanged. True when the transfer was done.
  virtual bool SetFeature(const std::uint8_t* report, std::size_t length) = 0;
};

}  // namespace obrint
