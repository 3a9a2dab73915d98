// Device interface names as they come with a device event: any bytes, any length. Reads the
// device instance ID, its enumerator and the vendor and product IDs, and checks each against a
// plain reading of the name.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "device/interface_name.h"
#include "fuzz_check.h"

namespace {

using obrint::fuzz::Check;

OBRINT_FUZZ_HELPER bool IsHexDigit(char c) {
  return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

// 1 to 4 hex digits at `offset`, read with the C library; -1 when there is none.
OBRINT_FUZZ_HELPER long HexField(std::string_view name, std::size_t offset) {
  std::string digits;
  for (std::size_t i = offset; i < name.size() && i < offset + 4 && IsHexDigit(name[i]); ++i) {
    digits.push_back(name[i]);
  }
  return digits.empty() ? -1 : std::strtol(digits.c_str(), nullptr, 16);
}

void CheckInstanceId(std::string_view name) {
  const auto id = obrint::DeviceInstanceIdFromInterfaceName(name);
  const std::size_t lastHash = name.size() > 4 ? name.rfind('#') : std::string_view::npos;
  const bool shaped = lastHash != std::string_view::npos && lastHash > 4 &&
                      name.substr(4, lastHash - 4).find('\\') == std::string_view::npos;
  Check(id.has_value() == shaped, "an ID exactly for names of the platform's shape");
  if (!id) return;

  const std::string_view middle = name.substr(4, lastHash - 4);
  Check(id->size() == middle.size(), "the ID is the name between prefix and class GUID");
  for (std::size_t i = 0; i < middle.size(); ++i) {
    const char c = middle[i];
    const char expected =
        c == '#' ? '\\' : (c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
    Check((*id)[i] == expected, "'#' becomes '\\', ASCII letters upper case, nothing else changes");
  }

  const std::string_view enumerator = obrint::EnumeratorOf(*id);
  Check(id->starts_with(enumerator), "the enumerator starts the ID");
  Check(enumerator.find('\\') == std::string_view::npos, "the enumerator holds no separator");
  Check(enumerator.size() == id->size() || (*id)[enumerator.size()] == '\\',
        "the enumerator ends at the first separator");
}

void CheckVidPid(std::string_view name) {
  constexpr std::uint16_t kUntouched = 0xBEEF;
  std::uint16_t vid = kUntouched;
  std::uint16_t pid = kUntouched;
  const bool headset = obrint::ParseVidPid(name, vid, pid);

  const long vendor = name.size() > 25 ? HexField(name, 12) : -1;
  const long product = name.size() > 25 ? HexField(name, 21) : -1;
  if (vendor < 0 || product < 0) {
    Check(!headset, "a name without both fields is not the headset's");
    Check(vid == kUntouched && pid == kUntouched, "IDs untouched when a field is missing");
    return;
  }
  Check(vid == vendor && pid == product, "the IDs read as at most 4 hex digits");
  Check(headset == (vendor == 0x2833), "the headset's exactly when the vendor is 0x2833");
  Check(headset == obrint::IsHeadsetVendor(vid), "the answer is the vendor test");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The bytes as they are: no terminator, so a read past the end is caught.
  const std::string_view name(reinterpret_cast<const char*>(data), size);
  CheckInstanceId(name);
  CheckVidPid(name);
  return 0;
}
