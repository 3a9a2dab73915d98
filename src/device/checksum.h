// The sums that protect a firmware image: the per-block and whole-image sums of the transfer to the
// headset, and the image checksum stamped into the image's version block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace obrint {

// Data bytes carried by one Data packet of the transfer report.
inline constexpr std::size_t kTransferBlockSize = 56;

// (s AND 0xFFFF) + (s SHR 16), truncated to 16 bits: a carry out of the addition is dropped.
std::uint16_t Fold(std::uint32_t s);

// The folded sum of the block's little-endian 16-bit words, the block zero-padded to a multiple
// of 4 bytes.
std::uint16_t BlockSum(std::span<const std::uint8_t> block);

// The folded 32-bit sum of the block sums of the image cut into blocks of kTransferBlockSize.
std::uint16_t ImageTotal(std::span<const std::uint8_t> image);

// The image checksum (uSum): the 32-bit wrapping sum of the image's little-endian 16-bit words;
// an odd last byte counts as a word with a zero high byte.
std::uint32_t ImageChecksum(std::span<const std::uint8_t> image);

}  // namespace obrint
