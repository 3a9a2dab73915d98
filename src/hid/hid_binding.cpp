#include "hid/hid_binding.h"

#include <climits>
#include <utility>

namespace obrint::hid {

const std::array<const char*, kHidEntryCount> kHidEntryNames = {
    "HidD_GetHidGuid",       "HidD_SetNumInputBuffers",
    "HidD_GetFeature",       "HidD_SetFeature",
    "HidD_GetAttributes",    "HidD_GetManufacturerString",
    "HidD_GetProductString", "HidD_GetSerialNumberString",
    "HidD_GetPreparsedData", "HidD_FreePreparsedData",
    "HidP_GetCaps",
};

namespace {

const LibraryApi kSystemLoader = {&::LoadLibraryA, &::GetProcAddress, &::FreeLibrary};
const LibraryApi* gLoader = &kSystemLoader;

HidBinding gBinding;

template <typename Fn>
Fn Entry(HidEntry entry) {
  // Only a bound library's entries are callable; see WinHidDevice.
  if (gBinding.module == nullptr) return nullptr;
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(gBinding.entries[entry]));
}

}  // namespace

const HidBinding& CurrentHidBinding() { return gBinding; }

void LoadHidLibrary() {
  if (gBinding.module != nullptr) {
    ++gBinding.users;
    return;
  }
  gBinding.module = gLoader->loadLibrary("hid.dll");
  if (gBinding.module == nullptr) return;
  gBinding.users = 1;
  for (std::size_t i = 0; i < kHidEntryCount; ++i) {
    gBinding.entries[i] = gLoader->getProcAddress(gBinding.module, kHidEntryNames[i]);
  }
  if (const auto getHidGuid = Entry<HidD_GetHidGuidFn>(kHidD_GetHidGuid)) {
    getHidGuid(&gBinding.hidGuid);
  }
}

void FreeHidLibrary() {
  if (gBinding.module == nullptr || --gBinding.users > 0) return;
  gLoader->freeLibrary(gBinding.module);
  gBinding.module = nullptr;
}

HANDLE OpenHidDevice(const char* path) {
  if (path == nullptr) return INVALID_HANDLE_VALUE;
  return ::CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
}

bool WinHidDevice::GetFeature(std::uint8_t* report, std::size_t length) {
  const auto getFeature = Entry<HidD_FeatureFn>(kHidD_GetFeature);
  if (getFeature == nullptr || static_cast<unsigned long long>(length) > ULONG_MAX) return false;
  return getFeature(handle_.get(), report, static_cast<ULONG>(length)) != FALSE;
}

bool WinHidDevice::SetFeature(const std::uint8_t* report, std::size_t length) {
  const auto setFeature = Entry<HidD_FeatureFn>(kHidD_SetFeature);
  if (setFeature == nullptr || static_cast<unsigned long long>(length) > ULONG_MAX) return false;
  // HidD_SetFeature does not write to the report; its prototype just lacks the const.
  return setFeature(handle_.get(), const_cast<std::uint8_t*>(report), static_cast<ULONG>(length)) !=
         FALSE;
}

const LibraryApi* SetLibraryApiForTesting(const LibraryApi* api) {
  return std::exchange(gLoader, api != nullptr ? api : &kSystemLoader);
}

}  // namespace obrint::hid
