// What the firmware upgrade's tests share: random images, the transfer sums worked out from their
// definitions (wide arithmetic, explicit padding) apart from the product's code, and the boxes an
// upgrade shows.
#pragma once

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "native/fakes/fake_ui.h"

namespace obrint::fakes {

inline std::vector<std::uint8_t> RandomImage(std::size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<std::uint8_t> image(size);
  for (auto& b : image) b = static_cast<std::uint8_t>(rng());
  return image;
}

inline std::uint16_t FoldOnce(std::uint64_t s) {
  return static_cast<std::uint16_t>((s % 65536 + (s / 65536) % 65536) % 65536);
}

inline std::uint16_t ReferenceBlockSum(std::vector<std::uint8_t> block) {
  while (block.size() % 4 != 0) block.push_back(0);
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < block.size(); i += 2) sum += block[i] + 256u * block[i + 1];
  return FoldOnce(sum);
}

inline std::uint16_t ReferenceImageTotal(const std::vector<std::uint8_t>& image) {
  std::uint64_t total = 0;
  for (std::size_t offset = 0; offset < image.size(); offset += 56) {
    const std::size_t end = std::min(image.size(), offset + 56);
    total +=
        ReferenceBlockSum(std::vector<std::uint8_t>(image.begin() + offset, image.begin() + end));
  }
  return FoldOnce(total);
}

inline const Box kUpdateFailed{"Update", "升级失败。", 0};
inline const Box kRebootQuestion{"Update", "Reboot?", 4};
inline const Box kBootAccessFailed{"Update", "引导访问失败。", 0};

}  // namespace obrint::fakes
