// Windows: the window's HID link over hid.dll, and the registry's list of HID interfaces for
// listing every attached interface of the vendor (the window's search stops at the first).
#include <windows.h>

#include <cctype>
#include <string>

#include "cli/backend.h"
#include "core/interface_name.h"
#include "hid/win_hid_link.h"

namespace obrint::cli {
namespace {

constexpr std::size_t kMaxSubkeyName = 255;

// Closes a registry key when it goes.
class RegistryKey {
 public:
  RegistryKey() = default;
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  ~RegistryKey() {
    if (key_) RegCloseKey(key_);
  }
  HKEY* out() { return &key_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

// The interface number of a composite device's interface, from "&MI_xx" after the product ID;
// -1 for a device with a single interface.
int InterfaceNumber(std::string_view name) {
  constexpr std::string_view kMarker = "&MI_";
  if (name.size() < kProductIdOffset + 4 + kMarker.size() + 2) return -1;
  std::string marker(name.substr(kProductIdOffset + 4, kMarker.size()));
  for (char& c : marker) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (marker != kMarker) return -1;
  const std::string digits(name.substr(kProductIdOffset + 4 + kMarker.size(), 2));
  char* end = nullptr;
  const long number = std::strtol(digits.c_str(), &end, 16);
  return end == digits.c_str() + 2 ? static_cast<int>(number) : -1;
}

class Win32Clock : public Clock {
 public:
  void Sleep(unsigned ms) override { ::Sleep(ms); }
};

class WinBackend : public Backend {
 public:
  HidLink& link() override { return link_; }
  Clock& clock() override { return clock_; }
  std::string_view name() const override { return "hid.dll"; }

  // Every interface of the class listed in the registry whose name carries the vendor and whose
  // path opens, i.e. whose device is attached.
  std::vector<AttachedInterface> Enumerate(std::uint16_t vid) override {
    std::vector<AttachedInterface> found;
    const std::string keyPath =
        std::string("SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\{") + kHidClassGuidText +
        "}";
    RegistryKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, key.out()) !=
        ERROR_SUCCESS) {
      return found;
    }
    for (DWORD index = 0;; ++index) {
      char name[kMaxSubkeyName + 1] = {};
      DWORD length = sizeof name;
      const LONG status =
          RegEnumKeyExA(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
      if (status == ERROR_NO_MORE_ITEMS) break;
      if (status != ERROR_SUCCESS) continue;
      const std::string_view subkey(name, length);
      std::uint16_t deviceVid = 0;
      std::uint16_t devicePid = 0;
      if (!ParseVidPid(subkey, deviceVid, devicePid) || deviceVid != vid) continue;
      // The path as the window builds it: "\\.\" in place of the name's first four characters.
      const std::string path = "\\\\.\\" + std::string(subkey.substr(4));
      if (!link_.OpenHidDevice(path)) continue;
      found.push_back({path, deviceVid, devicePid, InterfaceNumber(subkey)});
    }
    return found;
  }

 private:
  win::WinHidLink link_;
  Win32Clock clock_;
};

}  // namespace

std::unique_ptr<Backend> MakeHardwareBackend(std::string&) {
  return std::make_unique<WinBackend>();
}

}  // namespace obrint::cli
