#include "core/interface_name.h"

#include "core/ports.h"

namespace obrint {
namespace {

constexpr std::size_t kPrefixLength = 4;  // "\\?\"
constexpr std::size_t kMaxHexDigits = 4;

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// 1 to 4 hex digits from `offset` on; nullopt when the first character is no hex digit.
std::optional<std::uint16_t> ReadHexField(std::string_view text, std::size_t offset) {
  unsigned value = 0;
  std::size_t digits = 0;
  while (digits < kMaxHexDigits && offset + digits < text.size()) {
    const int v = HexValue(text[offset + digits]);
    if (v < 0) break;
    value = value * 16 + static_cast<unsigned>(v);
    ++digits;
  }
  if (digits == 0) return std::nullopt;
  return static_cast<std::uint16_t>(value);
}

}  // namespace

std::optional<std::string> DeviceInstanceIdFromInterfaceName(std::string_view name) {
  if (name.size() <= kPrefixLength) return std::nullopt;
  std::string_view rest = name.substr(kPrefixLength);
  const std::size_t lastHash = rest.rfind('#');
  if (lastHash == std::string_view::npos || lastHash == 0) return std::nullopt;
  rest = rest.substr(0, lastHash);
  if (rest.find('\\') != std::string_view::npos) return std::nullopt;

  std::string id;
  id.reserve(rest.size());
  for (const char c : rest) id.push_back(c == '#' ? '\\' : AsciiUpper(c));
  return id;
}

std::string_view EnumeratorOf(std::string_view instanceId) {
  return instanceId.substr(0, instanceId.find('\\'));
}

bool ParseVidPid(std::string_view name, std::uint16_t& vid, std::uint16_t& pid) {
  if (name.size() <= kInterfaceNameTemplateLength) return false;
  const auto vendor = ReadHexField(name, kVendorIdOffset);
  const auto product = ReadHexField(name, kProductIdOffset);
  if (!vendor || !product) return false;
  vid = *vendor;
  pid = *product;
  return IsHeadsetVendor(vid);
}

bool IsHeadsetVendor(std::uint16_t vid) { return vid == kHeadsetVendorId; }

}  // namespace obrint
