// A stand-in for the platform's hid.dll with the three exports the program calls, backed by the
// simulated headset of the state file in its folder (see sim_store.h). Every call loads the
// headset, acts and saves it again, so the headset outlives the program's loading and freeing of
// the library around every operation.
#include <windows.h>

#include "hiddouble/sim_store.h"

namespace {

using obrint::hiddouble::SimStore;
using obrint::sim::Headset;

// Runs `transfer` on the headset through the interface generation that `device` was opened on.
template <typename Transfer>
BOOLEAN WithHeadset(HANDLE device, PVOID report, Transfer transfer) {
  const auto generation = obrint::hiddouble::NodeGeneration(device);
  if (!generation || report == nullptr) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const bool ok = SimStore().Update([&](Headset& headset) {
    return transfer(headset, *generation, static_cast<std::uint8_t*>(report));
  });
  if (!ok) ::SetLastError(ERROR_GEN_FAILURE);
  return ok ? TRUE : FALSE;
}

}  // namespace

extern "C" {

void WINAPI HidD_GetHidGuid(LPGUID hidGuid) {
  *hidGuid = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
}

BOOLEAN WINAPI HidD_GetFeature(HANDLE device, PVOID report, ULONG length) {
  return WithHeadset(device, report, [&](Headset& headset, std::uint32_t generation, auto* bytes) {
    return headset.GetFeature(generation, bytes, length);
  });
}

BOOLEAN WINAPI HidD_SetFeature(HANDLE device, PVOID report, ULONG length) {
  return WithHeadset(device, report, [&](Headset& headset, std::uint32_t generation, auto* bytes) {
    return headset.SetFeature(generation, bytes, length);
  });
}

}  // extern "C"
