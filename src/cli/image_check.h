// Read-only validation of a firmware image, and sample images for trying the tool without one.
//
// An image is ready to flash when it fits the transfer (at most 65,535 bytes), carries the version
// block's magic at 0x9C00, holds its whole checksum field, and that field holds the checksum that
// stamping writes into the image while the field is empty: the sum of all the image's 16-bit
// words but the field's. Stamping sums over the field's previous content, so an image stamped
// over a non-empty field (stamped twice, say) does not check out.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace obrint::cli {

struct ImageCheck {
  std::uint32_t size = 0;
  bool fitsTransfer = false;
  bool hasVersionBlock = false;
  bool checksumFieldWhole = false;
  std::uint32_t storedChecksum = 0;    // the field's bytes that lie within the image, little-endian
  std::uint32_t expectedChecksum = 0;  // what stamping writes into the image with an empty field
  std::vector<std::string> problems;   // one line per reason it is not ready; empty when ready

  bool ready() const { return problems.empty(); }
};

// `image` holds the first bytes of the file, at most the 65,536 that stamping reads; `fileSize`
// is the whole file's size.
ImageCheck CheckImage(std::span<const std::uint8_t> image, std::uint64_t fileSize);

// The smallest image that holds the whole version block.
inline constexpr std::uint32_t kMinSampleSize = 0x9C0C;
inline constexpr std::uint32_t kDefaultSampleSize = 40 * 1024;

// A made-up image of `size` bytes (kMinSampleSize to 65,535): pseudo-random code bytes from
// `seed`, the version block's magic, and its checksum stamped, so that it checks out.
std::vector<std::uint8_t> MakeSampleImage(std::uint32_t size, std::uint32_t seed = 1);

}  // namespace obrint::cli
