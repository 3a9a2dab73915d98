#include "win/hid_link.h"

#include <windows.h>
#include <cfgmgr32.h>

#include "core/discovery.h"
#include "core/interface_name.h"
#include "core/text.h"
#include "devpath/device_path.h"
#include "hid/hid_binding.h"
#include "winbase/handles.h"

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

// The device installer's word for where the USB device behind an interface is plugged in: the
// first location path (else the location text) of the nearest USB device above the interface's
// device that is not one interface of a composite device. Empty when there is none.
std::string PortOf(std::string_view interfaceName) {
  const std::optional<std::string> instanceId = DeviceInstanceIdFromInterfaceName(interfaceName);
  DEVINST node = 0;
  if (!instanceId || ::CM_Locate_DevNodeA(&node, const_cast<char*>(instanceId->c_str()),
                                          CM_LOCATE_DEVNODE_NORMAL) != CR_SUCCESS) {
    return {};
  }
  // HID device, USB interface, USB device: a few steps up at most.
  for (int level = 0; level < 4; ++level) {
    char id[MAX_DEVICE_ID_LEN + 1] = {};
    if (::CM_Get_Device_IDA(node, id, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS) return {};
    const std::string_view deviceId(id);
    if (EqualsIgnoringAsciiCase(deviceId.substr(0, 4), "USB\\") &&
        !ContainsIgnoringAsciiCase(deviceId, "&MI_")) {
      for (const ULONG property : {CM_DRP_LOCATION_PATHS, CM_DRP_LOCATION_INFORMATION}) {
        char text[1024] = {};
        ULONG size = sizeof text - 1;
        if (::CM_Get_DevNode_Registry_PropertyA(node, property, nullptr, text, &size, 0) ==
                CR_SUCCESS &&
            text[0] != '\0') {
          return text;  // a location path list's first entry ends at its first null
        }
      }
      return {};
    }
    if (::CM_Get_Parent(&node, node, 0) != CR_SUCCESS) return {};
  }
  return {};
}

}  // namespace

std::unique_ptr<HidDevice> WinHidLink::OpenHidDevice(const std::string& path) {
  if (path.empty()) return nullptr;
  winbase::UniqueHandle handle(hid::OpenHidDevice(path.c_str()));
  if (!handle.valid()) return nullptr;
  return std::make_unique<hid::WinHidDevice>(std::move(handle));
}

void WinHidLink::LoadHidLibrary() { hid::LoadHidLibrary(); }

void WinHidLink::FreeHidLibrary() { hid::FreeHidLibrary(); }

std::optional<std::string> WinHidLink::FindHidDevicePath(std::string_view classGuidText,
                                                         std::uint16_t vid, std::uint16_t pid) {
  const std::string guid(classGuidText);
  if (const char* path = devpath::FindHidDevicePath(guid.c_str(), vid, pid))
    return std::string(path);
  return std::nullopt;
}

std::vector<HidInterface> AttachedHidInterfaces(std::uint16_t vid) {
  std::vector<HidInterface> found;
  devpath::VisitInterfaceNames(kHidClassGuidText, [&](std::string_view name) {
    std::uint16_t deviceVid = 0;
    std::uint16_t devicePid = 0;
    // The answer tells the headset's vendor apart; the IDs are read for any vendor.
    ParseVidPid(name, deviceVid, devicePid);
    if (deviceVid != vid) return false;
    char path[kDiscoveryBufferSize];
    const std::string candidate(FormatCandidatePath(path, name));
    if (winbase::UniqueHandle(hid::OpenHidDevice(candidate.c_str())).valid()) {
      found.push_back({candidate, deviceVid, devicePid, InterfaceNumber(name), PortOf(name)});
    }
    return false;
  });
  return found;
}

}  // namespace obrint::win
