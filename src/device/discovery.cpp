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

std::string_view FormatDiscoveryPattern(std::span<char> buf, DiscoveryPattern pattern,
                                        std::uint16_t vid, std::uint16_t pid) {
  const std::string text = "#VID_" + FormatHex(vid, 4, HexCase::kLower) + "&PID_" +
                           FormatHex(pid, 4, HexCase::kLower) +
                           (pattern == DiscoveryPattern::kDevice ? "#" : "&MI_00#");
  return CopyInto(buf, text, {});
}

std::string_view FormatCandidatePath(std::span<char> buf, std::string_view subkeyName) {
  const std::string_view rest =
      subkeyName.size() > kSubkeyPrefixLength ? subkeyName.substr(kSubkeyPrefixLength) : "";
  return CopyInto(buf, kDevicePrefix, rest);
}

bool TryDiscoverySubkey(std::span<char> buf, std::string_view subkeyName, std::uint16_t vid,
                        std::uint16_t pid, const OpensFn& opens) {
  if (buf.empty()) return false;
  for (const DiscoveryPattern pattern :
       {DiscoveryPattern::kDevice, DiscoveryPattern::kFirstInterface}) {
    // The pattern is matched from a copy: the buffer is reused for the candidate path.
    const std::string text(FormatDiscoveryPattern(buf, pattern, vid, pid));
    if (!ContainsIgnoringAsciiCase(subkeyName, text)) continue;
    const std::string_view path = FormatCandidatePath(buf, subkeyName);
    if (opens(path.data())) return true;
  }
  return false;
}

}  // namespace obrint
