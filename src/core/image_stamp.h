// The window's command behind "校验固件程序", on the data layer's StampImage (image.h).
#pragma once

#include <cstdint>
#include <string>

#include "core/image.h"
#include "core/ports.h"

namespace obrint {

enum class StampOutcome : std::uint8_t {
  kCancelled,  // no file chosen; nothing shown
  kNotOpened,  // the file does not open for reading and writing; nothing shown
  kStamped,    // the checksum was written; "校验成功。" shown
  kRefused,    // no version block, or too large; the file is untouched
  kFailed,     // memory, reading or writing failed; a failure box was shown
};

// Stamps the file at `path`, showing how it went while the file is still open.
StampOutcome StampImageFile(FileSystem& files, UserInterface& ui, const std::string& path);

// Asks for an image file and stamps it.
StampOutcome StampImageChecksum(FileSystem& files, UserInterface& ui);

}  // namespace obrint
