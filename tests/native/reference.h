// What the tests hold the product to, worked out apart from its code: the sums from their
// definitions in wide arithmetic, images, and texts.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace obrint::reference {

using Bytes = std::vector<std::uint8_t>;

inline Bytes RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes bytes(size);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
  return bytes;
}

// Little-endian words of the block zero-padded to a multiple of 4, folded once.
inline std::uint16_t BlockSum(const std::uint8_t* data, std::size_t length) {
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < (length + 3) / 4 * 4; i += 2) {
    sum += (i < length ? data[i] : 0u) + 256u * (i + 1 < length ? data[i + 1] : 0u);
  }
  return static_cast<std::uint16_t>((sum % 65536 + sum / 65536 % 65536) % 65536);
}

inline std::uint16_t ImageTotal(const Bytes& image) {
  Bytes sums;  // the fold of the sum of the block sums: their block sum as words
  for (std::size_t at = 0; at < image.size(); at += 56) {
    const std::uint16_t sum = BlockSum(&image[at], std::min<std::size_t>(56, image.size() - at));
    sums.insert(sums.end(), {static_cast<std::uint8_t>(sum), static_cast<std::uint8_t>(sum >> 8)});
  }
  return BlockSum(sums.data(), sums.size());
}

// Little-endian words, an odd last byte alone, mod 2^32.
inline std::uint32_t ImageChecksum(const Bytes& image) {
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < image.size(); ++i) sum += image[i] << (i % 2 * 8);
  return static_cast<std::uint32_t>(sum % 0x100000000ULL);
}

// Random bytes with the version block's magic (00 55 AA FF at 0x9C00) and an empty checksum
// field at 0x9C08, as far as the size reaches.
inline Bytes StampableImage(std::size_t size, unsigned seed) {
  Bytes image = RandomBytes(size, seed);
  const std::uint8_t block[12] = {0x00, 0x55, 0xAA, 0xFF, 0x25};
  for (std::size_t i = 0; i < 12 && 0x9C00 + i < size; ++i) image[0x9C00 + i] = block[i];
  return image;
}

inline std::string Hex(std::uint64_t value, int digits) {
  std::string text;
  for (int i = digits - 1; i >= 0; --i) text += "0123456789ABCDEF"[value >> (4 * i) & 0xF];
  return text;
}

// Three little-endian words, most significant digit first in each.
inline std::string McuIdText(const std::array<std::uint8_t, 12>& id) {
  std::string text;
  for (int w = 0; w < 12; w += 4) {
    text += Hex(id[w] | id[w + 1] << 8 | id[w + 2] << 16 | std::uint64_t{id[w + 3]} << 24, 8);
  }
  return text;
}

inline std::string Spaced(const Bytes& bytes) {
  std::string text;
  for (const std::uint8_t b : bytes) text += Hex(b, 2) + " ";
  return text;
}

}  // namespace obrint::reference
