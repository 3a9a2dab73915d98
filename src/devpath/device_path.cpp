#include "devpath/device_path.h"

#include <windows.h>

#include <cstring>
#include <string>

#include "device/discovery.h"
#include "hid/hid_binding.h"
#include "winbase/handles.h"

namespace obrint::devpath {
namespace {

// The search's one scratch buffer: the candidate paths of each subkey in turn. A found path stays
// here until the next search.
char gDiscovery[kDiscoveryBufferSize];

// RegEnumKeyExA's name buffer: names of 255 characters or more do not fit and are skipped.
constexpr DWORD kSubkeyNameBuffer = 255;

bool Opens(const char* path) { return winbase::UniqueHandle(hid::OpenHidDevice(path)).valid(); }

}  // namespace

HeadsetLocation& TheHeadsetLocation() {
  static HeadsetLocation location;
  return location;
}

bool StoreDevicePath(HeadsetLocation& location, const char* path) {
  if (path == nullptr || std::strlen(path) >= kMaxPath) return false;
  location.devicePath = path;
  return true;
}

bool VisitInterfaceNames(const char* classGuidText,
                         const std::function<bool(std::string_view name)>& visit) {
  const std::string keyPath = std::string("SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\{") +
                              (classGuidText != nullptr ? classGuidText : "") + "}";
  winbase::UniqueKey hKey;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, hKey.out()) !=
      ERROR_SUCCESS) {
    return false;
  }
  // Only the subkey count is used; a failed query leaves it at 0.
  DWORD cSubKeys = 0;
  ::RegQueryInfoKeyA(hKey.get(), nullptr, nullptr, nullptr, &cSubKeys, nullptr, nullptr, nullptr,
                     nullptr, nullptr, nullptr, nullptr);

  for (DWORD i = 0; i < cSubKeys; ++i) {
    char achKey[kSubkeyNameBuffer];
    DWORD cbName = kSubkeyNameBuffer;
    if (::RegEnumKeyExA(hKey.get(), i, achKey, &cbName, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      continue;
    }
    if (visit(std::string_view(achKey, cbName))) return true;
  }
  return false;
}

const char* FindHidDevicePath(const char* classGuidText, std::uint16_t vid, std::uint16_t pid) {
  const bool found = VisitInterfaceNames(classGuidText, [vid, pid](std::string_view name) {
    return TryDiscoverySubkey(gDiscovery, name, vid, pid, Opens);
  });
  return found ? gDiscovery : nullptr;
}

}  // namespace obrint::devpath
