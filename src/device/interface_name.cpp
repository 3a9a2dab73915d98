#include "device/interface_name.h"

#include "device/hid_bus.h"
#include "device/text.h"

namespace obrint {
namespace {

constexpr std::size_t kPrefixLength = 4;  // "\\?\"
constexpr std::size_t kIdDigits = 4;

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
  const auto vendor = ParseHexPrefix(name.substr(kVendorIdOffset, kIdDigits));
  const auto product = ParseHexPrefix(name.substr(kProductIdOffset, kIdDigits));
  if (!vendor || !product) return false;
  vid = static_cast<std::uint16_t>(*vendor);
  pid = static_cast<std::uint16_t>(*product);
  return IsHeadsetVendor(vid);
}

bool IsHeadsetVendor(std::uint16_t vid) { return vid == kHeadsetVendorId; }

}  // namespace obrint
