// SHA-256 (FIPS 180-4), for recording which bytes were written into a headset.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace obrint {

using Sha256Digest = std::array<std::uint8_t, 32>;

Sha256Digest Sha256(std::span<const std::uint8_t> bytes);
// The digest as 64 lower-case hexadecimal digits.
std::string Sha256Hex(std::span<const std::uint8_t> bytes);

}  // namespace obrint
