#include "device/image.h"

#include <algorithm>

#include "device/bytes.h"
#include "device/checksum.h"

namespace obrint {

Result<Stamp> StampImage(std::span<std::uint8_t> buffer, std::uint32_t size) {
  if (size > buffer.size() || buffer.size() < kMinWholeBlockSize) return Failure::kImageTooLarge;
  if (ReadLe32(&buffer[kVersionBlockOffset]) != kVersionMagic) return Failure::kNoVersionBlock;
  Stamp stamp;
  stamp.previous = ReadLe32(&buffer[kChecksumFieldOffset]);
  stamp.checksum = ImageChecksum(buffer.first(size));
  stamp.fieldBytes =
      size <= kChecksumFieldOffset ? 0 : std::min(size - kChecksumFieldOffset, kChecksumFieldSize);
  std::uint8_t field[kChecksumFieldSize];
  WriteLe32(field, stamp.checksum);
  std::copy_n(field, stamp.fieldBytes, &buffer[kChecksumFieldOffset]);
  return stamp;
}

ImageCheck CheckImage(std::span<const std::uint8_t> image, std::uint64_t size) {
  ImageCheck check;
  check.size = size;
  if (size == 0 || size > kMaxImageSize) {
    check.verdict = size == 0 ? Failure::kImageEmpty : Failure::kImageTooLarge;
    return check;
  }
  // The image as stamping sees it: zero past its end.
  std::vector<std::uint8_t> buffer(kStampBufferSize, 0);
  std::copy_n(image.begin(), std::min<std::size_t>(image.size(), size), buffer.begin());
  check.hasVersionBlock = ReadLe32(&buffer[kVersionBlockOffset]) == kVersionMagic;
  if (!check.hasVersionBlock) {
    check.verdict = Failure::kNoVersionBlock;
    return check;
  }
  check.storedChecksum = ReadLe32(&buffer[kChecksumFieldOffset]);
  std::fill_n(&buffer[kChecksumFieldOffset], kChecksumFieldSize, std::uint8_t{0});
  check.expectedChecksum = ImageChecksum(std::span(buffer).first(size));
  if (size < kMinWholeBlockSize) {
    check.verdict = Failure::kChecksumFieldCut;
  } else if (check.storedChecksum != check.expectedChecksum) {
    check.verdict = Failure::kChecksumMismatch;
  }
  return check;
}

std::vector<std::uint8_t> MakeSampleImage(std::uint32_t size, std::uint32_t seed) {
  size = std::clamp<std::uint32_t>(size, kMinWholeBlockSize, kMaxImageSize);
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

}  // namespace obrint
