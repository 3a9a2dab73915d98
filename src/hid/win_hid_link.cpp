#include "hid/win_hid_link.h"

#include "devpath/device_path.h"
#include "hid/hid_binding.h"

namespace obrint::win {

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

}  // namespace obrint::win
