// Firmware image files as data: the version block, and the image checksum stamped into it.
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
inline constexpr std::uint32_t kChecksumFieldSize = 4;

enum class StampFailure : std::uint8_t {
  kNone,
  kNotOpened,       // the file does not open for reading and writing
  kNoMemory,        // no buffer for the image
  kUnreadable,      // its size cannot be had, or it cannot be read whole
  kTooLarge,        // larger than the buffer
  kNoVersionBlock,  // no magic at the version block
  kWriteFailed,     // the stamped image could not be written back whole
};

struct StampResult {
  StampFailure failure = StampFailure::kNone;
  std::uint32_t size = 0;      // the file's size, once known
  std::uint32_t checksum = 0;  // uSum, as written
  // The field's content before: part of the sum, so a field that was not empty leaves an image
  // that does not check out. Bytes past the end of the file count as zero.
  std::uint32_t previous = 0;
  // Whether the file holds the whole field; otherwise only its part within the file was written,
  // the file keeping its length.
  bool fieldWhole = false;
};

// Reads the open file whole into `buffer` (kImageBufferSize zero bytes), checks the version
// block's magic, writes the image checksum (the 32-bit wrapping sum of its little-endian words)
// into the field, and writes the file back from its start.
StampResult StampImage(ImageFile& file, std::span<std::uint8_t> buffer);
// The same on the file at `path`, opened for update, with a buffer of its own.
StampResult StampImage(FileSystem& files, const std::string& path);

}  // namespace obrint
