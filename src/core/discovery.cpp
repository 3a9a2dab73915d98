#include "core/discovery.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace obrint {
namespace {

constexpr std::string_view kDevicePrefix = "\\\\.\\";
// "##?#" in the registry's naming; replaced by the device prefix without being compared.
constexpr std::size_t kSubkeyPrefixLength = 4;

char FoldAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

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
  char text[32];
  const char* format =
      pattern == DiscoveryPattern::kDevice ? "#VID_%04x&PID_%04x#" : "#VID_%04x&PID_%04x&MI_00#";
  const int n = std::snprintf(text, sizeof text, format, static_cast<unsigned>(vid),
                              static_cast<unsigned>(pid));
  return CopyInto(buf, std::string_view(text, n > 0 ? static_cast<std::size_t>(n) : 0), {});
}

std::string_view FormatCandidatePath(std::span<char> buf, std::string_view subkeyName) {
  const std::string_view rest =
      subkeyName.size() > kSubkeyPrefixLength ? subkeyName.substr(kSubkeyPrefixLength) : "";
  return CopyInto(buf, kDevicePrefix, rest);
}

bool ContainsIgnoringAsciiCase(std::string_view haystack, std::string_view needle) {
  const auto it = std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end(),
                              [](char a, char b) { return FoldAscii(a) == FoldAscii(b); });
  return it != haystack.end() || needle.empty();
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
