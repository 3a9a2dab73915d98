#include "win/hid_link.h"

#include "core/discovery.h"
#include "core/interface_name.h"
#include "core/text.h"
#include "devpath/device_path.h"
#include "hid/hid_binding.h"

namespace obrint::win {
namespace {

// The interface number of a composite device's interface, from "&MI_xx" right after the product
// ID; -1 for a device with a single interface.
int InterfaceNumber(std::string_view name) {
  constexpr std::string_view kMarker = "&MI_";
  const std::size_t at = kProductIdOffset + 4;
  if (name.size() < at + kMarker.size() + 2 ||
      !EqualsIgnoringAsciiCase(name.substr(at, kMarker.size()), kMarker)) {
    return -1;
  }
  const std::optional<std::uint32_t> number = ParseHex(name.substr(at + kMarker.size(), 2));
  return number ? static_cast<int>(*number) : -1;
}

}  // namespace

std::unique_ptr<HidDevice> WinHidLink::OpenHidDevice(const std::string& path) {
  if (path.empty()) return nullptr;
  UniqueHandle handle(win::OpenHidDevice(path.c_str()));
  if (!handle.valid()) return nullptr;
  return std::make_unique<WinHidDevice>(std::move(handle));
}

void WinHidLink::LoadHidLibrary() { win::LoadHidLibrary(); }

void WinHidLink::FreeHidLibrary() { win::FreeHidLibrary(); }

std::optional<std::string> WinHidLink::FindHidDevicePath(std::string_view classGuidText,
                                                         std::uint16_t vid, std::uint16_t pid) {
  const std::string guid(classGuidText);
  if (const char* path = win::FindHidDevicePath(guid.c_str(), vid, pid)) return std::string(path);
  return std::nullopt;
}

std::vector<HidInterface> AttachedHidInterfaces(std::uint16_t vid) {
  std::vector<HidInterface> found;
  VisitInterfaceNames(kHidClassGuidText, [&](std::string_view name) {
    std::uint16_t deviceVid = 0;
    std::uint16_t devicePid = 0;
    // The answer tells the headset's vendor apart; the IDs are read for any vendor.
    ParseVidPid(name, deviceVid, devicePid);
    if (deviceVid != vid) return false;
    char path[kDiscoveryBufferSize];
    const std::string candidate(FormatCandidatePath(path, name));
    if (UniqueHandle(win::OpenHidDevice(candidate.c_str())).valid()) {
      found.push_back({candidate, deviceVid, devicePid, InterfaceNumber(name)});
    }
    return false;
  });
  return found;
}

}  // namespace obrint::win
