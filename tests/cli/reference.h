// Expected texts and sums for the command line's tests, written from their definitions.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace obrint::cli::testing {

inline std::string Hex4(unsigned v) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", v & 0xFFFF);
  return text;
}

inline std::string Hex8(std::uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(v));
  return text;
}

inline std::string IdText(unsigned vid, unsigned pid) {
  char text[16];
  std::snprintf(text, sizeof text, "%04x:%04x", vid, pid);
  return text;
}

// Three groups of four bytes, each printed from its last byte to its first.
inline std::string McuIdText(const std::array<std::uint8_t, 12>& id) {
  std::string text;
  for (int group = 0; group < 3; ++group) {
    for (int i = 3; i >= 0; --i) {
      char digits[4];
      std::snprintf(digits, sizeof digits, "%02X", id[static_cast<std::size_t>(group * 4 + i)]);
      text += digits;
    }
  }
  return text;
}

// The sum of the image's little-endian 16-bit words, the checksum field at 0x9C08 counted as
// zero, modulo 2^32; an odd last byte is a word of its own.
inline std::uint32_t ReferenceStamp(const std::vector<std::uint8_t>& image) {
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < image.size(); i += 2) {
    const unsigned lo = (i >= 0x9C08 && i < 0x9C0C) ? 0 : image[i];
    const unsigned hi =
        i + 1 >= image.size() || (i + 1 >= 0x9C08 && i + 1 < 0x9C0C) ? 0 : image[i + 1];
    sum += lo + 256u * hi;
  }
  return static_cast<std::uint32_t>(sum % 4294967296ull);
}

}  // namespace obrint::cli::testing
