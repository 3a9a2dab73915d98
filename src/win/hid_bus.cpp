#include "win/hid_bus.h"

#include <windows.h>
#include <cfgmgr32.h>

#include "device/discovery.h"
#include "device/interface_name.h"
#include "device/text.h"
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

// hid.dll bound while it lives, as one user of the binding.
class BindingSession : public HidBus::Session {
 public:
  BindingSession() { hid::LoadHidLibrary(); }
  ~BindingSession() override { hid::FreeHidLibrary(); }
  BindingSession(const BindingSession&) = delete;
  BindingSession& operator=(const BindingSession&) = delete;
};

}  // namespace

Win32HidBus::Win32HidBus(Binding binding) : binding_(binding) {
  if (binding_ == Binding::kForLife) hid::LoadHidLibrary();
}

Win32HidBus::~Win32HidBus() {
  if (binding_ == Binding::kForLife) hid::FreeHidLibrary();
}

std::unique_ptr<HidDevice> Win32HidBus::Open(const std::string& path) {
  if (path.empty()) return nullptr;
  winbase::UniqueHandle handle(hid::OpenHidDevice(path.c_str()));
  if (!handle.valid()) return nullptr;
  return std::make_unique<hid::WinHidDevice>(std::move(handle));
}

std::unique_ptr<HidBus::Session> Win32HidBus::OpenSession() {
  if (binding_ == Binding::kForLife) return nullptr;
  return std::make_unique<BindingSession>();
}

std::optional<std::string> Win32HidBus::Find(std::uint16_t vid, std::uint16_t pid) {
  const std::lock_guard lock(searchMutex_);
  if (const char* path = devpath::FindHidDevicePath(kHidClassGuidText, vid, pid)) {
    return std::string(path);
  }
  return std::nullopt;
}

std::vector<HidInterface> Win32HidBus::Enumerate(std::uint16_t vid) {
  std::vector<HidInterface> found;
  devpath::VisitInterfaceNames(kHidClassGuidText, [&](std::string_view name) {
    std::uint16_t deviceVid = 0;
    std::uint16_t devicePid = 0;
    // The answer tells the headset's vendor apart; the IDs are read for any vendor.
    ParseVidPid(name, deviceVid, devicePid);
    if (deviceVid != vid) return false;
    char path[kDiscoveryBufferSize];
    const std::string candidate(FormatCandidatePath(path, name));
    // One that another thread keeps is open for it, and is not opened again.
    const InterfaceLeases::Look look(leases(), candidate);
    if (!look || winbase::UniqueHandle(hid::OpenHidDevice(candidate.c_str())).valid()) {
      found.push_back({candidate, deviceVid, devicePid, InterfaceNumber(name), PortOf(name)});
    }
    return false;
  });
  return found;
}

}  // namespace obrint::win
