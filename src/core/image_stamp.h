// Stamping a firmware image file with its checksum, inside the image's version block.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "core/ports.h"

namespace obrint {

// The version block of an image: the magic word, then a word left alone, then the checksum.
inline constexpr std::uint32_t kVersionBlockOffset = 0x9C00;
inline constexpr std::uint32_t kVersionMagic = 0xFFAA5500;
inline constexpr std::uint32_t kChecksumFieldOffset = 0x9C08;

enum class StampOutcome : std::uint8_t {
  kCancelled,  // no file chosen; nothing shown
  kNotOpened,  // the file does not open for reading and writing; nothing shown
  kStamped,    // the checksum was written; "校验成功。" shown
  kRefused,    // no version block, or too large; the file is untouched
  kFailed,     // memory, reading or writing failed; a failure box was shown
};

// Reads the whole file into `buffer` (zero-filled, kImageBufferSize bytes), checks the version
// block's magic and adds the file's words to uSum. False, after showing why, when the image is
// refused or cannot be read whole.
bool ComputeImageChecksum(ImageFile& file, std::span<std::uint8_t> buffer, std::uint32_t& uSum,
                          UserInterface& ui, StampOutcome* whyNot = nullptr);

// Writes the image checksum of the file at `path` into its version block, keeping its length.
StampOutcome StampImageFile(FileSystem& files, UserInterface& ui, const std::string& path);

// The command behind "校验固件程序": asks for an image file and stamps it.
StampOutcome StampImageChecksum(FileSystem& files, UserInterface& ui);

}  // namespace obrint
