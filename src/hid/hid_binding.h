// The Hid binding: hid.dll loaded at run time with its eleven entry points, opening a HID
// interface for feature-report traffic, and a HidDevice over such an open interface.
//
// The binding is process-wide, like the library it stands for. It counts its users, so that an
// operation run inside another (a device event that the window takes while a command's message
// box waits) never unbinds the one around it.
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>

#include "device/hid_device.h"
#include "winbase/handles.h"

namespace obrint::hid {

// hid.dll's exports, in the order a bind resolves them.
enum HidEntry : std::size_t {
  kHidD_GetHidGuid,
  kHidD_SetNumInputBuffers,
  kHidD_GetFeature,
  kHidD_SetFeature,
  kHidD_GetAttributes,
  kHidD_GetManufacturerString,
  kHidD_GetProductString,
  kHidD_GetSerialNumberString,
  kHidD_GetPreparsedData,
  kHidD_FreePreparsedData,
  kHidP_GetCaps,
  kHidEntryCount,
};
extern const std::array<const char*, kHidEntryCount> kHidEntryNames;

using HidD_GetHidGuidFn = void(WINAPI*)(GUID* hidGuid);
using HidD_FeatureFn = BOOLEAN(WINAPI*)(HANDLE device, PVOID report, ULONG length);

struct HidBinding {
  HMODULE module = nullptr;  // null: unbound
  unsigned users = 0;        // binds not yet released; 0 while unbound
  GUID hidGuid{};            // written by HidD_GetHidGuid at every bind
  // Resolved at every bind, missing exports as null; kept as they are by an unbind.
  std::array<FARPROC, kHidEntryCount> entries{};
};

// The binding as it stands.
const HidBinding& CurrentHidBinding();

// Binds hid.dll for one more user. The first user's bind loads it, resolves all eleven entries in
// order and asks it for the HID class GUID; a bind while bound loads and resolves nothing and only
// counts its user. A bind whose library does not load leaves it unbound and counts no user.
void LoadHidLibrary();
// Lets one user go: the last one's release frees hid.dll, whose entries keep their values. Does
// nothing while unbound.
void FreeHidLibrary();

// Opens a HID interface path (ANSI) for reading and writing, shared for reading and writing,
// overlapped. INVALID_HANDLE_VALUE when it does not open (a null path included); the caller
// closes the handle.
HANDLE OpenHidDevice(const char* path);

// Feature reports over an open interface, through the bound HidD_GetFeature and HidD_SetFeature.
// A transfer while the library is unbound, or whose export is missing, fails without a call: the
// entries of a released library point into memory that is gone.
class WinHidDevice : public HidDevice {
 public:
  explicit WinHidDevice(winbase::UniqueHandle handle) : handle_(std::move(handle)) {}

  bool GetFeature(std::uint8_t* report, std::size_t length) override;
  bool SetFeature(const std::uint8_t* report, std::size_t length) override;

 private:
  winbase::UniqueHandle handle_;
};

// The calls through which the binding reaches the loader, replaceable so that tests can count and
// script them.
struct LibraryApi {
  HMODULE(WINAPI* loadLibrary)(LPCSTR name);
  FARPROC(WINAPI* getProcAddress)(HMODULE module, LPCSTR name);
  BOOL(WINAPI* freeLibrary)(HMODULE module);
};
// Makes the binding use `api` (null: the system loader) and returns the one used before.
const LibraryApi* SetLibraryApiForTesting(const LibraryApi* api);

}  // namespace obrint::hid
