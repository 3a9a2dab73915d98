#include "device/checksum.h"

#include <algorithm>

#include "device/bytes.h"

namespace obrint {
namespace {

// Zero padding adds nothing to a sum of words, so padding to a multiple of 4 only matters through
// an odd last byte, which becomes the low byte of a word.
std::uint32_t SumOfWords(std::span<const std::uint8_t> bytes) {
  std::uint32_t sum = 0;
  std::size_t i = 0;
  for (; i + 1 < bytes.size(); i += 2) sum += ReadLe16(&bytes[i]);
  if (i < bytes.size()) sum += bytes[i];
  return sum;
}

}  // namespace

std::uint16_t Fold(std::uint32_t s) { return static_cast<std::uint16_t>((s & 0xFFFF) + (s >> 16)); }

std::uint16_t BlockSum(std::span<const std::uint8_t> block) { return Fold(SumOfWords(block)); }

std::uint16_t ImageTotal(std::span<const std::uint8_t> image) {
  std::uint32_t total = 0;
  for (std::size_t offset = 0; offset < image.size(); offset += kTransferBlockSize) {
    total += BlockSum(image.subspan(offset, std::min(kTransferBlockSize, image.size() - offset)));
  }
  return Fold(total);
}

std::uint32_t ImageChecksum(std::span<const std::uint8_t> image) { return SumOfWords(image); }

}  // namespace obrint
