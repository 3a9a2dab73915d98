// Hexadecimal text, ASCII case and the few other text helpers: the one home of each, for every
// layer. Only ASCII letters change case; every other byte compares as it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace obrint {

enum class HexCase : std::uint8_t { kUpper, kLower };

// `value` in hexadecimal, zero-padded to at least `digits` digits ("%04X", "%08x", ...).
std::string FormatHex(std::uint32_t value, int digits, HexCase letters = HexCase::kUpper);
// `value` with `decimals` digits after the point ("%.1f"): "12.3".
std::string FormatFixed(double value, int decimals);
// Two digits per byte, in order.
void AppendHexBytes(std::string& out, std::span<const std::uint8_t> bytes,
                    HexCase letters = HexCase::kLower);

// The hexadecimal digits (either case, at most 8) that `text` starts with: no blank, sign or
// "0x" is skipped. nullopt when `text` does not start with a digit. `used` receives the count.
std::optional<std::uint32_t> ParseHexPrefix(std::string_view text, std::size_t* used = nullptr);
// `text` as a whole is 1 to 8 hexadecimal digits.
std::optional<std::uint32_t> ParseHex(std::string_view text);
// Two digits per byte; false, `out` then unspecified, for an odd count or another character.
bool ParseHexBytes(std::string_view text, std::vector<std::uint8_t>& out);

constexpr char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }
constexpr char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);
// Whether `needle` occurs in `haystack`; an empty needle occurs everywhere.
bool ContainsIgnoringAsciiCase(std::string_view haystack, std::string_view needle);

// The edits of a character (insert, delete, replace) that turn `a` into `b`.
std::size_t EditDistance(std::string_view a, std::string_view b);
// The bytes of the longest start of a UTF-8 text that holds at most `limit` characters, and the
// characters it holds.
std::pair<std::size_t, std::size_t> Utf8Prefix(std::string_view text, std::size_t limit);
// RFC 4648 base64, with padding.
std::string Base64(std::span<const std::uint8_t> bytes);

}  // namespace obrint
