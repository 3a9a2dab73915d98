// The headset search over any registry subkey names, in order, as the registry walk runs it.
// Input: vendor and product ID (2 bytes each, little-endian), 8 bytes of which open attempts fail
// (bit k: the k-th; later ones open), then the names, each ended by a zero byte.
//
// Invariants: nothing outside the one scratch buffer is touched; the candidates tried and the path
// found are those of a plain reading of the rules (device pattern, then interface 0,
// case-insensitive; "\\.\" and the name from its fifth character on; names of 255 characters or
// more unreadable).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device/discovery.h"
#include "fuzz_check.h"

namespace {

using obrint::fuzz::Check;

constexpr std::size_t kLongestReadableName = 254;

OBRINT_FUZZ_HELPER std::string LowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

OBRINT_FUZZ_HELPER std::string Pattern(const char* format, std::uint16_t vid, std::uint16_t pid) {
  char text[64];
  std::snprintf(text, sizeof text, format, static_cast<unsigned>(vid), static_cast<unsigned>(pid));
  return text;
}

OBRINT_FUZZ_HELPER std::string CandidatePath(std::string_view name) {
  return "\\\\.\\" + std::string(name.size() > 4 ? name.substr(4) : std::string_view());
}

std::unique_ptr<char[]> ExactBuffer(std::size_t size) {
  return std::unique_ptr<char[]>(new char[size == 0 ? 1 : size]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t kHeader = 12;
  if (size < kHeader) return -1;
  const auto vid = static_cast<std::uint16_t>(data[0] | data[1] << 8);
  const auto pid = static_cast<std::uint16_t>(data[2] | data[3] << 8);
  std::uint64_t failingOpens = 0;
  for (int i = 0; i < 8; ++i) failingOpens |= std::uint64_t{data[4 + i]} << (8 * i);

  std::vector<std::string> names;
  const std::string_view rest(reinterpret_cast<const char*>(data + kHeader), size - kHeader);
  for (std::size_t at = 0; at < rest.size();) {
    const std::size_t end = std::min(rest.find('\0', at), rest.size());
    names.emplace_back(rest.substr(at, end - at));
    at = end + 1;
  }

  // What the search must try, and find.
  const std::string device = LowerAscii(Pattern("#VID_%04x&PID_%04x#", vid, pid));
  const std::string firstInterface = LowerAscii(Pattern("#VID_%04x&PID_%04x&MI_00#", vid, pid));
  std::vector<std::string> expectedTries;
  std::optional<std::string> expectedPath;
  for (const std::string& name : names) {
    if (name.size() > kLongestReadableName) continue;
    const std::string lower = LowerAscii(name);
    for (const std::string* pattern : {&device, &firstInterface}) {
      if (lower.find(*pattern) == std::string::npos) continue;
      const std::size_t attempt = expectedTries.size();
      expectedTries.push_back(CandidatePath(name));
      if (attempt >= 64 || !(failingOpens >> attempt & 1)) {
        expectedPath = expectedTries.back();
        break;
      }
    }
    if (expectedPath) break;
  }

  // The search as the registry walk runs it, over one scratch buffer.
  auto scratch = ExactBuffer(obrint::kDiscoveryBufferSize);
  const std::span<char> buf(scratch.get(), obrint::kDiscoveryBufferSize);
  std::vector<std::string> tries;
  const obrint::OpensFn opens = [&](const char* path) {
    Check(path == scratch.get(), "the candidate is tried from the scratch buffer");
    tries.emplace_back(path, strnlen(path, obrint::kDiscoveryBufferSize));
    Check(tries.back().size() < obrint::kDiscoveryBufferSize, "the candidate is zero-terminated");
    const std::size_t attempt = tries.size() - 1;
    return attempt >= 64 || !(failingOpens >> attempt & 1);
  };
  std::optional<std::string> found;
  for (const std::string& name : names) {
    if (name.size() > kLongestReadableName) continue;
    if (obrint::TryDiscoverySubkey(buf, name, vid, pid, opens)) {
      found = std::string(scratch.get());
      break;
    }
  }

  Check(tries == expectedTries, "the candidates tried, in order, follow the rules");
  Check(found == expectedPath, "the path found is the first candidate that opens");

  return 0;
}
