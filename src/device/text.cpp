#include "device/text.h"

#include <algorithm>
#include <charconv>

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

}  // namespace obrint
