#include "device/discovery.h"

#include <algorithm>
#include <string>

namespace obrint {
namespace {

constexpr std::string_view kDevicePrefix = "\\\\.\\";
// "##?#" in the registry's naming; replaced by the device prefix without being compared.
constexpr std::size_t kSubkeyPrefixLength = 4;

std::string_view CopyInto(std::span<char> buf, std::string_view first, std::string_view second) {
  if (buf.empty()) return {};
  const std::size_t room = buf.size() - 1;
  const std::size_t n1 = std::min(first.size(), room);
  const std::size_t n2 = std::min(second.size(), room - n1);
  std::copy_n(first.data(), n1, buf.data());
  std::copy_n(second.data(), n2, buf.data() + n1);
  buf[n1 + n2] = '\0';
  return {buf.data(), n1 + n2};
}

}  // namespace

std::string_view FormatCandidatePath(std::span<char> buf, std::string_view subkeyName) {
  const std::string_view rest =
      subkeyName.size() > kSubkeyPrefixLength ? subkeyName.substr(kSubkeyPrefixLength) : "";
  return CopyInto(buf, kDevicePrefix, rest);
}

bool TryDiscoverySubkey(std::span<char> buf, std::string_view subkeyName, std::uint16_t vid,
                        std::uint16_t pid, const OpensFn& opens) {
  if (buf.empty()) return false;
  const std::string ids =
      "#VID_" + FormatHex(vid, 4, HexCase::kLower) + "&PID_" + FormatHex(pid, 4, HexCase::kLower);
  for (const char* const ending : {"#", "&MI_00#"}) {
    if (!ContainsIgnoringAsciiCase(subkeyName, ids + ending)) continue;
    const std::string_view path = FormatCandidatePath(buf, subkeyName);
    if (opens(path.data())) return true;
  }
  return false;
}

}  // namespace obrint
