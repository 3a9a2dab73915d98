#include "device/text.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <utility>

namespace obrint {
namespace {

constexpr std::size_t kMaxHexDigits = 8;

char HexDigit(unsigned nibble, HexCase letters) {
  constexpr char kUpper[] = "0123456789ABCDEF";
  constexpr char kLower[] = "0123456789abcdef";
  return (letters == HexCase::kUpper ? kUpper : kLower)[nibble & 0xF];
}

bool SameLetter(char a, char b) { return AsciiLower(a) == AsciiLower(b); }

}  // namespace

std::string FormatFixed(double value, int decimals) {
  char text[48];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string FormatHex(std::uint32_t value, int digits, HexCase letters) {
  std::string text;
  do {
    text.push_back(HexDigit(value & 0xF, letters));
    value >>= 4;
  } while (value != 0);
  if (static_cast<int>(text.size()) < digits) text.resize(static_cast<std::size_t>(digits), '0');
  std::reverse(text.begin(), text.end());
  return text;
}

void AppendHexBytes(std::string& out, std::span<const std::uint8_t> bytes, HexCase letters) {
  for (const std::uint8_t byte : bytes) {
    out += HexDigit(byte >> 4, letters);
    out += HexDigit(byte, letters);
  }
}

std::optional<std::uint32_t> ParseHexPrefix(std::string_view text, std::size_t* used) {
  text = text.substr(0, std::min(text.size(), kMaxHexDigits));
  std::uint32_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  if (ec != std::errc{}) return std::nullopt;
  if (used) *used = static_cast<std::size_t>(end - text.data());
  return value;
}

std::optional<std::uint32_t> ParseHex(std::string_view text) {
  std::size_t used = 0;
  const std::optional<std::uint32_t> value = ParseHexPrefix(text, &used);
  if (!value || used != text.size()) return std::nullopt;
  return value;
}

bool ParseHexBytes(std::string_view text, std::vector<std::uint8_t>& out) {
  if (text.size() % 2 != 0) return false;
  out.clear();
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const std::optional<std::uint32_t> byte = ParseHex(text.substr(i, 2));
    if (!byte) return false;
    out.push_back(static_cast<std::uint8_t>(*byte));
  }
  return true;
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), SameLetter);
}

bool ContainsIgnoringAsciiCase(std::string_view haystack, std::string_view needle) {
  return needle.empty() || std::search(haystack.begin(), haystack.end(), needle.begin(),
                                       needle.end(), SameLetter) != haystack.end();
}

std::size_t EditDistance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> row(b.size() + 1);  // edits from a's prefix to b's prefixes
  for (std::size_t j = 0; j < row.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t edits =
          std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = std::exchange(row[j], edits);
    }
  }
  return row.back();
}

std::pair<std::size_t, std::size_t> Utf8Prefix(std::string_view text, std::size_t limit) {
  std::size_t characters = 0, at = 0;
  for (; at < text.size(); ++at) {
    if ((static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) continue;  // within a character
    if (characters == limit) break;
    ++characters;
  }
  return {at, characters};
}

std::string Base64(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t left = bytes.size() - i;
    const std::uint32_t group =
        bytes[i] << 16 | (left > 1 ? bytes[i + 1] << 8 : 0) | (left > 2 ? bytes[i + 2] : 0);
    for (std::size_t k = 0; k < 4; ++k)
      text += k <= left ? kDigits[group >> (18 - 6 * k) & 63] : '=';
  }
  return text;
}

}  // namespace obrint
