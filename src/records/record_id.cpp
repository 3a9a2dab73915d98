#include "records/record_id.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>

#include <nlohmann/json.hpp>

#include "device/sha256.h"
#include "device/text.h"
#include "records/record.h"

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
  std::ranges::generate(bytes, [&source] { return static_cast<std::uint8_t>(source()); });
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
  return HasShape(text, "00000000-0000-0000-0000-000000000000", "0123456789abcdef");
}

}  // namespace obrint::records
