#include "device/interface_name.h"

#include "device/hid_bus.h"
#include "device/text.h"

namespace obrint {
namespace {

constexpr std::size_t kPrefixLength = 4;  // "\\?\"
constexpr std::size_t kIdDigits = 4;

// 1 to 4 hex digits from `offset` on; nullopt when the first character is no hex digit.
std::optional<std::uint16_t> ReadHexField(std::string_view text, std::size_t offset) {
  const auto value = ParseHexPrefix(text.substr(offset, kIdDigits));
  if (!value) return std::nullopt;
  return static_cast<std::uint16_t>(*value);
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
