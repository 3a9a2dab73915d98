#include "records/record_id.h"

#include <array>
#include <cstdint>
#include <random>

#include <nlohmann/json.hpp>

#include "device/sha256.h"
#include "device/text.h"

namespace obrint::records {
namespace {

// The 16 bytes as a UUID of `version` with the RFC 9562 variant, in its written form.
std::string UuidText(std::array<std::uint8_t, 16> bytes, std::uint8_t version) {
  bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | (version << 4));
  bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text.push_back('-');
    AppendHexBytes(text, std::span(&bytes[i], 1));
  }
  return text;
}

}  // namespace

std::string NewRecordId() {
  // libstdc++ draws from the kernel (getrandom, /dev/urandom or the CPU's generator) on Linux
  // and from RtlGenRandom on Windows: never a seeded pseudo-random sequence.
  std::random_device source;
  std::array<std::uint8_t, 16> bytes{};
  for (std::size_t i = 0; i < bytes.size(); i += 4) {
    const std::uint32_t word = source();
    for (std::size_t b = 0; b < 4; ++b) bytes[i + b] = static_cast<std::uint8_t>(word >> (8 * b));
  }
  return UuidText(bytes, 4);
}

std::string DerivedRecordId(std::string_view record) {
  const nlohmann::json parsed = nlohmann::json::parse(record, nullptr, false);
  if (!parsed.is_object()) return {};
  const std::string canonical = parsed.dump();  // an object's keys come sorted
  const Sha256Digest digest =
      Sha256(std::span(reinterpret_cast<const std::uint8_t*>(canonical.data()), canonical.size()));
  std::array<std::uint8_t, 16> bytes{};
  std::copy_n(digest.begin(), bytes.size(), bytes.begin());
  return UuidText(bytes, 8);
}

bool IsRecordId(std::string_view text) {
  constexpr std::string_view kShape = "00000000-0000-0000-0000-000000000000";
  if (text.size() != kShape.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool hex = (text[i] >= '0' && text[i] <= '9') || (text[i] >= 'a' && text[i] <= 'f');
    if (kShape[i] == '0' ? !hex : text[i] != '-') return false;
  }
  return true;
}

}  // namespace obrint::records
