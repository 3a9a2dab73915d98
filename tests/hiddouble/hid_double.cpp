// A stand-in for the platform's hid.dll with the eleven exports the program binds, backed by the
// simulated headset of the state file (see sim_store.h). Every call loads the headset, lets its
// virtual time catch up with the real time since the last call, acts, and saves it again, so the
// headset outlives the program's loading and freeing of the library around every operation.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <optional>

#include "hiddouble/sim_store.h"

namespace {

using obrint::hiddouble::IdentifyInterface;
using obrint::hiddouble::SimStore;
using obrint::hiddouble::StateLock;
using obrint::sim::Headset;

constexpr GUID kHidClassGuid = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
constexpr USHORT kVendorId = 0x2833;
constexpr LONG kHidpStatusSuccess = 0x00110000;
constexpr LONG kHidpStatusInvalidPreparsedData = static_cast<LONG>(0xC0110001);
// The longest feature report the headset knows, report 0x03.
constexpr USHORT kLongestFeatureReport = 69;

struct HidAttributes {
  ULONG Size;
  USHORT VendorID;
  USHORT ProductID;
  USHORT VersionNumber;
};

struct HidCaps {
  USHORT Usage;
  USHORT UsagePage;
  USHORT InputReportByteLength;
  USHORT OutputReportByteLength;
  USHORT FeatureReportByteLength;
  USHORT Reserved[17];
  USHORT NumberLinkCollectionNodes;
  USHORT NumberInputButtonCaps;
  USHORT NumberInputValueCaps;
  USHORT NumberInputDataIndices;
  USHORT NumberOutputButtonCaps;
  USHORT NumberOutputValueCaps;
  USHORT NumberOutputDataIndices;
  USHORT NumberFeatureButtonCaps;
  USHORT NumberFeatureValueCaps;
  USHORT NumberFeatureDataIndices;
};

// What HidD_GetPreparsedData hands out: enough to answer HidP_GetCaps.
struct PreparsedData {
  static constexpr DWORD kMagic = 0x4F425054;  // "OBPT"
  DWORD magic;
  HidCaps caps;
};

std::wstring OwnDirectory() {
  HMODULE self = nullptr;
  ::GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&OwnDirectory), &self);
  wchar_t path[MAX_PATH * 2];
  const DWORD n = ::GetModuleFileNameW(self, path, MAX_PATH * 2);
  std::wstring directory(path, n < MAX_PATH * 2 ? n : 0);
  const std::size_t slash = directory.find_last_of(L"\\/");
  return slash == std::wstring::npos ? L"." : directory.substr(0, slash);
}

// The headset as this process last saved it, so that a call finding the state file as it left
// it need not read and parse it again (a firmware upgrade makes thousands of calls while the log
// grows).
struct Cached {
  std::wstring statePath;
  obrint::hiddouble::StateStamp stamp;
  Headset headset;
  std::string liveInterface;
};
std::optional<Cached> gCached;

// Runs `action` on the headset behind `handle` (the generation of the interface the handle was
// opened on) and saves the headset afterwards. False, with nothing saved, when the state cannot be
// had or the handle is no interface of the simulated headset.
template <typename Action>
BOOLEAN WithHeadset(HANDLE handle, Action action) {
  const auto identity = IdentifyInterface(handle);
  if (!identity) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const SimStore store(obrint::hiddouble::StatePathFor(OwnDirectory()));
  StateLock lock(store.statePath());
  if (!lock.held()) {
    ::SetLastError(ERROR_READ_FAULT);
    return FALSE;
  }
  std::optional<Headset> headset;
  const auto stamp = store.Stamp();
  if (gCached && stamp && gCached->statePath == store.statePath() && gCached->stamp == *stamp) {
    headset = std::move(gCached->headset);
    obrint::hiddouble::CatchUp(*headset, stamp->writeTime);
  } else {
    gCached.reset();
    if (store.Load(true, headset) == SimStore::LoadResult::kUnreadable) {
      ::SetLastError(ERROR_READ_FAULT);
      return FALSE;
    }
    if (!headset) headset.emplace();
  }
  const bool ok = action(*headset, identity->generation);

  std::string live = obrint::hiddouble::LiveInterface(*headset);
  const bool saved = store.SaveState(*headset);
  if (!gCached || gCached->liveInterface != live) store.SyncInterfaces(*headset);
  const auto savedStamp = store.Stamp();
  if (saved && savedStamp) {
    gCached = Cached{store.statePath(), *savedStamp, std::move(*headset), std::move(live)};
  } else {
    gCached.reset();
  }
  if (!ok) ::SetLastError(ERROR_GEN_FAILURE);
  return ok ? TRUE : FALSE;
}

// The headset as it stands, when the handle is on its current interface.
bool Current(const Headset& headset, std::uint32_t generation) {
  return headset.present() && headset.generation() == generation;
}

BOOLEAN CopyString(HANDLE handle, PVOID buffer, ULONG bytes,
                   std::wstring (*text)(const Headset& headset)) {
  if (buffer == nullptr) return FALSE;
  return WithHeadset(handle, [&](Headset& headset, std::uint32_t generation) {
    if (!Current(headset, generation)) return false;
    const std::wstring value = text(headset);
    const std::size_t needed = (value.size() + 1) * sizeof(wchar_t);
    if (bytes < needed) return false;
    std::copy_n(value.c_str(), value.size() + 1, static_cast<wchar_t*>(buffer));
    return true;
  });
}

}  // namespace

extern "C" {

void WINAPI HidD_GetHidGuid(LPGUID hidGuid) {
  if (hidGuid) *hidGuid = kHidClassGuid;
}

BOOLEAN WINAPI HidD_SetNumInputBuffers(HANDLE device, ULONG count) {
  if (count < 2 || count > 512) return FALSE;
  return WithHeadset(device, [](Headset& headset, std::uint32_t generation) {
    return Current(headset, generation);
  });
}

BOOLEAN WINAPI HidD_GetFeature(HANDLE device, PVOID report, ULONG length) {
  if (report == nullptr) return FALSE;
  return WithHeadset(device, [&](Headset& headset, std::uint32_t generation) {
    return headset.GetFeature(generation, static_cast<std::uint8_t*>(report), length);
  });
}

BOOLEAN WINAPI HidD_SetFeature(HANDLE device, PVOID report, ULONG length) {
  if (report == nullptr) return FALSE;
  return WithHeadset(device, [&](Headset& headset, std::uint32_t generation) {
    return headset.SetFeature(generation, static_cast<const std::uint8_t*>(report), length);
  });
}

BOOLEAN WINAPI HidD_GetAttributes(HANDLE device, HidAttributes* attributes) {
  if (attributes == nullptr) return FALSE;
  return WithHeadset(device, [&](Headset& headset, std::uint32_t generation) {
    if (!Current(headset, generation)) return false;
    attributes->Size = sizeof *attributes;
    attributes->VendorID = kVendorId;
    attributes->ProductID = headset.productId();
    attributes->VersionNumber = headset.firmware() == obrint::sim::Firmware::kBoot
                                    ? headset.config().bootVersion
                                    : headset.config().applicationVersion;
    return true;
  });
}

BOOLEAN WINAPI HidD_GetManufacturerString(HANDLE device, PVOID buffer, ULONG bytes) {
  return CopyString(device, buffer, bytes,
                    [](const Headset&) { return std::wstring(L"Obrint simulation"); });
}

BOOLEAN WINAPI HidD_GetProductString(HANDLE device, PVOID buffer, ULONG bytes) {
  return CopyString(device, buffer, bytes, [](const Headset& headset) {
    return std::wstring(headset.firmware() == obrint::sim::Firmware::kBoot
                            ? L"Simulated headset (boot firmware)"
                            : L"Simulated headset");
  });
}

BOOLEAN WINAPI HidD_GetSerialNumberString(HANDLE device, PVOID buffer, ULONG bytes) {
  return CopyString(device, buffer, bytes, [](const Headset& headset) {
    std::wstring serial;
    for (const std::uint8_t b : headset.config().mcuId) {
      wchar_t digits[3];
      std::swprintf(digits, 3, L"%02X", static_cast<unsigned>(b));
      serial += digits;
    }
    return serial;
  });
}

BOOLEAN WINAPI HidD_GetPreparsedData(HANDLE device, PVOID* preparsed) {
  if (preparsed == nullptr) return FALSE;
  return WithHeadset(device, [&](Headset& headset, std::uint32_t generation) {
    if (!Current(headset, generation)) return false;
    auto* data = static_cast<PreparsedData*>(::LocalAlloc(LPTR, sizeof(PreparsedData)));
    if (data == nullptr) return false;
    data->magic = PreparsedData::kMagic;
    data->caps.UsagePage = 0xFF00;  // vendor-defined
    data->caps.Usage = 0x0001;
    data->caps.FeatureReportByteLength = kLongestFeatureReport;
    *preparsed = data;
    return true;
  });
}

BOOLEAN WINAPI HidD_FreePreparsedData(PVOID preparsed) {
  auto* data = static_cast<PreparsedData*>(preparsed);
  if (data == nullptr || data->magic != PreparsedData::kMagic) return FALSE;
  data->magic = 0;
  ::LocalFree(data);
  return TRUE;
}

LONG WINAPI HidP_GetCaps(PVOID preparsed, HidCaps* caps) {
  const auto* data = static_cast<const PreparsedData*>(preparsed);
  if (data == nullptr || caps == nullptr || data->magic != PreparsedData::kMagic) {
    return kHidpStatusInvalidPreparsedData;
  }
  *caps = data->caps;
  return kHidpStatusSuccess;
}

}  // extern "C"
