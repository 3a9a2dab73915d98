// Firmware images as bytes, in one place: the size limits, the version block with its image
// checksum, the check that tells whether an image is ready to flash, and made-up sample images.
// Reading and writing files is the front ends' business; everything here works on bytes in memory.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "device/failure.h"

namespace obrint {

// The Begin packet carries the image size in 16 bits.
inline constexpr std::uint32_t kMaxImageSize = 65535;
// Stamping reads a file into a buffer of this size; larger files are refused.
inline constexpr std::uint32_t kStampBufferSize = 65536;

// The version block: the magic word, a word left alone, then the image checksum.
inline constexpr std::uint32_t kVersionBlockOffset = 0x9C00;
inline constexpr std::uint32_t kVersionMagic = 0xFFAA5500;
inline constexpr std::uint32_t kChecksumFieldOffset = 0x9C08;
inline constexpr std::uint32_t kChecksumFieldSize = 4;
// The smallest image that holds the whole version block.
inline constexpr std::uint32_t kMinWholeBlockSize = kChecksumFieldOffset + kChecksumFieldSize;

struct Stamp {
  std::uint32_t checksum = 0;  // the image checksum, as written
  // The field's content before: part of the sum, so a field that was not empty leaves an image
  // that does not check out. Bytes past the end of the image count as zero.
  std::uint32_t previous = 0;
  // The bytes of the field that lie within the image: only those were written.
  std::uint32_t fieldBytes = 0;
};

// Stamps the image of `size` bytes at the start of `buffer` (kStampBufferSize bytes, zero past
// the image): checks the version block's magic, sums the image's little-endian 16-bit words
// (wrapping; an odd last byte is a word with a zero high byte) and writes the sum into the
// checksum field's bytes that lie within the image. Failure::kImageTooLarge for an image larger
// than the buffer, kNoVersionBlock without the magic (the buffer then unchanged).
Result<Stamp> StampImage(std::span<std::uint8_t> buffer, std::uint32_t size);

// What an image holds, read-only.
struct ImageCheck {
  std::uint64_t size = 0;
  bool hasVersionBlock = false;
  std::uint32_t storedChecksum = 0;    // the field's bytes within the image, little-endian
  std::uint32_t expectedChecksum = 0;  // what stamping writes into the image with an empty field
  // Why the image is not ready to flash, the first reason in this order: kImageEmpty,
  // kImageTooLarge, kNoVersionBlock, kChecksumFieldCut, kChecksumMismatch. None: it is ready.
  Status verdict;
};

// `image` holds the image's first bytes, at most kStampBufferSize, and `size` is the whole size.
// An image is ready to flash when it is not empty, fits the transfer, carries the version block,
// holds the whole checksum field, and that field holds the checksum that stamping writes into the
// image while the field is empty (an image stamped twice does not check out).
ImageCheck CheckImage(std::span<const std::uint8_t> image, std::uint64_t size);

// A made-up image of `size` bytes (kMinWholeBlockSize to kMaxImageSize): pseudo-random code bytes
// from `seed`, the version block's magic, and its checksum stamped, so that it checks out.
std::vector<std::uint8_t> MakeSampleImage(std::uint32_t size, std::uint32_t seed = 1);
inline constexpr std::uint32_t kDefaultSampleSize = 40 * 1024;

}  // namespace obrint
