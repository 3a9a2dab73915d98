#include "devpath/device_path.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "core/discovery.h"
#include "hid/hid_binding.h"

namespace obrint::win {
namespace {

// The search's one scratch buffer: the key path, then the patterns and candidate paths of each
// subkey in turn. A found path stays here until the next search.
char gDiscovery[kDiscoveryBufferSize];

// RegEnumKeyExA's name buffer: names of 255 characters or more do not fit and are skipped.
constexpr DWORD kSubkeyNameBuffer = 255;

class UniqueKey {
 public:
  UniqueKey() = default;
  UniqueKey(const UniqueKey&) = delete;
  UniqueKey& operator=(const UniqueKey&) = delete;
  ~UniqueKey() {
    if (key_ != nullptr) ::RegCloseKey(key_);
  }
  HKEY* out() { return &key_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

bool Opens(const char* path) { return UniqueHandle(OpenHidDevice(path)).valid(); }

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

const char* FindHidDevicePath(const char* classGuidText, std::uint16_t vid, std::uint16_t pid) {
  const char* result = nullptr;
  char achClass[MAX_PATH] = {};
  DWORD cchClassName = MAX_PATH;
  DWORD cSubKeys = 0;

  std::snprintf(gDiscovery, sizeof gDiscovery,
                "SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\{%s}",
                classGuidText != nullptr ? classGuidText : "");
  UniqueKey hKey;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, gDiscovery, 0, KEY_READ, hKey.out()) != ERROR_SUCCESS) {
    return nullptr;
  }

  DWORD cbMaxSubKey = 0;
  DWORD cchMaxClass = 0;
  DWORD cValues = 0;
  DWORD cchMaxValue = 0;
  DWORD cbMaxValueData = 0;
  DWORD cbSecurityDescriptor = 0;
  FILETIME ftLastWriteTime{};
  // Only the subkey count is used; a failed query leaves it at 0.
  ::RegQueryInfoKeyA(hKey.get(), achClass, &cchClassName, nullptr, &cSubKeys, &cbMaxSubKey,
                     &cchMaxClass, &cValues, &cchMaxValue, &cbMaxValueData, &cbSecurityDescriptor,
                     &ftLastWriteTime);

  for (DWORD i = 0; i < cSubKeys; ++i) {
    char achKey[kSubkeyNameBuffer];
    DWORD cbName = kSubkeyNameBuffer;
    if (::RegEnumKeyExA(hKey.get(), i, achKey, &cbName, nullptr, nullptr, nullptr,
                        &ftLastWriteTime) != ERROR_SUCCESS) {
      continue;
    }
    if (TryDiscoverySubkey(gDiscovery, std::string_view(achKey, cbName), vid, pid, Opens)) {
      result = gDiscovery;
      break;
    }
  }
  return result;
}

}  // namespace obrint::win
