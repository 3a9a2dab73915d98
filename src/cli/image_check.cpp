#include "cli/image_check.h"

#include <algorithm>

#include "device/checksum.h"
#include "device/headset.h"
#include "device/image.h"
#include "device/ports.h"
#include "device/reports.h"
#include "device/text.h"

namespace obrint::cli {
namespace {

constexpr std::uint32_t kFieldSize = 4;

std::string Hex32(std::uint32_t v) { return "0x" + FormatHex(v, 8); }

// The image as stamping sees it: the file's bytes in a zero-filled 64 KiB buffer.
std::vector<std::uint8_t> ImageBuffer(std::span<const std::uint8_t> image) {
  std::vector<std::uint8_t> buffer(kImageBufferSize, 0);
  std::copy_n(image.begin(), std::min<std::size_t>(image.size(), buffer.size()), buffer.begin());
  return buffer;
}

}  // namespace

ImageCheck CheckImage(std::span<const std::uint8_t> image, std::uint64_t fileSize) {
  ImageCheck check;
  check.size = static_cast<std::uint32_t>(std::min<std::uint64_t>(fileSize, 0xFFFFFFFF));
  check.fitsTransfer = fileSize <= kMaxImageSize;
  if (!check.fitsTransfer) {
    check.problems.push_back("the image has " + std::to_string(fileSize) + " bytes; at most " +
                             std::to_string(kMaxImageSize) + " can be flashed");
    return check;
  }
  // Past the end of the file the buffer is zero, as in stamping.
  std::vector<std::uint8_t> buffer =
      ImageBuffer(image.first(std::min<std::size_t>(image.size(), fileSize)));
  check.hasVersionBlock = ReadLe32(&buffer[kVersionBlockOffset]) == kVersionMagic;
  if (!check.hasVersionBlock) {
    check.problems.push_back("no version block (magic 0xFFAA5500) at offset 0x9C00");
    return check;
  }
  check.checksumFieldWhole = fileSize >= kChecksumFieldOffset + kFieldSize;
  check.storedChecksum = ReadLe32(&buffer[kChecksumFieldOffset]);
  std::fill_n(&buffer[kChecksumFieldOffset], kFieldSize, std::uint8_t{0});
  check.expectedChecksum = ImageChecksum(std::span(buffer).first(check.size));
  if (!check.checksumFieldWhole) {
    check.problems.push_back("the file ends inside the checksum field at 0x9C08");
  } else if (check.storedChecksum != check.expectedChecksum) {
    check.problems.push_back("stored checksum " + Hex32(check.storedChecksum) + " differs from " +
                             Hex32(check.expectedChecksum) + " (run stamp on the unstamped image)");
  }
  return check;
}

std::vector<std::uint8_t> MakeSampleImage(std::uint32_t size, std::uint32_t seed) {
  size = std::clamp<std::uint32_t>(size, kMinSampleSize, kMaxImageSize);
  std::vector<std::uint8_t> image(size);
  // A linear congruential generator: the same seed gives the same image everywhere.
  std::uint32_t state = seed;
  for (std::uint8_t& byte : image) {
    state = state * 1664525u + 1013904223u;
    byte = static_cast<std::uint8_t>(state >> 24);
  }
  // The version block: magic, a version word, an empty checksum field; then the stamp.
  WriteLe32(&image[kVersionBlockOffset], kVersionMagic);
  WriteLe32(&image[kVersionBlockOffset + 4], 0x00000025);
  WriteLe32(&image[kChecksumFieldOffset], 0);
  WriteLe32(&image[kChecksumFieldOffset], ImageChecksum(image));
  return image;
}

}  // namespace obrint::cli
