// Device events, the Device tree's updates and the Disable command of its context menu.
#include "kesticdlg.h"

#include <array>
#include <cstddef>
#include <cwchar>
#include <optional>

#include "device/discovery.h"
#include "device/interface_name.h"
#include "devpath/device_path.h"
#include "usermsg.h"
#include "win/arrival_watch_win.h"
#include "winbase/text.h"

namespace {

constexpr char kUnknownDeviceName[] = "Unknown";

// The interface name of an event record, read no further than the record's size says, so that a
// record without a terminating null is not overrun.
std::string InterfaceName(const DEV_BROADCAST_DEVICEINTERFACE_W& record) {
  constexpr std::size_t kNameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
  if (record.dbcc_size <= kNameOffset) return {};
  const std::size_t capacity = (record.dbcc_size - kNameOffset) / sizeof(wchar_t);
  return obrint::winbase::Narrow(
      std::wstring_view(record.dbcc_name, ::wcsnlen(record.dbcc_name, capacity)));
}

// Deletes a class item that has no device left.
void DeleteClassItemIfEmpty(DeviceTree& tree, HTREEITEM classItem) {
  if (!tree.ItemHasChildren(classItem)) tree.Delete(classItem);
}

// The name the user knows the device by: its friendly name, else its description.
std::string DeviceDisplayName(HDEVINFO set, SP_DEVINFO_DATA* record) {
  for (const DWORD property : {SPDRP_FRIENDLYNAME, SPDRP_DEVICEDESC}) {
    // One spare character keeps the text terminated whatever the call leaves in the buffer.
    std::array<wchar_t, obrint::kMaxPath + 1> name{};
    if (::SetupDiGetDeviceRegistryPropertyW(set, record, property, nullptr,
                                            reinterpret_cast<BYTE*>(name.data()),
                                            obrint::kMaxPath * sizeof(wchar_t), nullptr)) {
      return obrint::winbase::Narrow(name.data());
    }
  }
  return kUnknownDeviceName;
}

}  // namespace

HTREEITEM DeviceTree::Add(HTREEITEM parent, std::string_view text, int image, const Entry& entry) {
  HTREEITEM item = InsertItem(text, image, image, parent, TVI_LAST);
  if (item != nullptr) entries_.insert_or_assign(item, entry);
  return item;
}

HTREEITEM DeviceTree::Find(HTREEITEM parent, const Entry& entry) const {
  for (HTREEITEM child = GetChildItem(parent); child != nullptr;
       child = GetNextSiblingItem(child)) {
    const Entry* childEntry = EntryOf(child);
    if (childEntry != nullptr && *childEntry == entry) return child;
  }
  return nullptr;
}

const DeviceTree::Entry* DeviceTree::EntryOf(HTREEITEM item) const {
  const auto found = entries_.find(item);
  return found != entries_.end() ? &found->second : nullptr;
}

void DeviceTree::Delete(HTREEITEM item) {
  DeleteItem(item);
  entries_.erase(item);
}

bool CKesticDlg::RegisterDeviceNotifications() {
  DEV_BROADCAST_DEVICEINTERFACE_W filter{};
  filter.dbcc_size = sizeof(filter);
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_classguid = obrint::win::kHidInterfaceClass;
  deviceNotification_.reset(
      ::RegisterDeviceNotificationW(GetSafeHwnd(), &filter, DEVICE_NOTIFY_WINDOW_HANDLE));
  if (!deviceNotification_.valid()) {
    ShowErrorBox("Can't register device notification: ", ::GetLastError());
    return false;
  }
  return true;
}

BOOL CKesticDlg::OnDeviceChange(UINT eventType, DWORD_PTR eventData) {
  if (eventType != DBT_DEVICEARRIVAL && eventType != DBT_DEVICEREMOVECOMPLETE) return FALSE;
  const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(eventData);
  if (header == nullptr || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) return FALSE;
  const auto* record = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(eventData);

  if (eventType == DBT_DEVICEARRIVAL) AdoptHeadsetInterface(record);
  FindDevicePathIfUnknown();
  RefreshModeControls();
  ApplyDeviceChange(record, eventType);
  return FALSE;
}

void CKesticDlg::AdoptHeadsetInterface(const DEV_BROADCAST_DEVICEINTERFACE_W* record) {
  std::uint16_t vid = 0;
  std::uint16_t pid = 0;
  if (obrint::ParseVidPid(InterfaceName(*record), vid, pid)) AdoptHeadset(vid, pid);
}

void CKesticDlg::AdoptHeadset(std::uint16_t vid, std::uint16_t pid) {
  const char* path = obrint::devpath::FindHidDevicePath(obrint::kHidClassGuidText, vid, pid);
  obrint::HeadsetLocation& location = obrint::devpath::TheHeadsetLocation();
  // The path and the IDs it was found under change together, or not at all.
  if (!obrint::devpath::StoreDevicePath(location, path)) return;
  location.vid = vid;
  location.pid = pid;
}

void CKesticDlg::FindDevicePathIfUnknown() {
  const obrint::HeadsetLocation& location = obrint::devpath::TheHeadsetLocation();
  if (location.devicePath.empty()) AdoptHeadset(location.vid, location.pid);
}

void CKesticDlg::ApplyDeviceChange(const DEV_BROADCAST_DEVICEINTERFACE_W* record, UINT eventType) {
  const bool arrival = eventType == DBT_DEVICEARRIVAL;
  const std::string name = InterfaceName(*record);
  const std::optional<std::string> instanceId = obrint::DeviceInstanceIdFromInterfaceName(name);

  // Every event is logged; a name of no known shape is logged as it came and goes no further.
  AppendStatus((arrival ? "设备链接 " : "设备断开 ") + instanceId.value_or(name) + "\r\n");
  if (!instanceId) return;
  const std::string enumerator(obrint::EnumeratorOf(*instanceId));
  if (enumerator == obrint::kRootEnumerator) return;

  // A removed device is no longer present, so removals look among all devices.
  const DWORD flags = arrival ? (DIGCF_PRESENT | DIGCF_ALLCLASSES) : DIGCF_ALLCLASSES;
  const obrint::winbase::UniqueDeviceInfoSet set(
      ::SetupDiGetClassDevsA(nullptr, enumerator.c_str(), nullptr, flags));
  if (!set.valid()) {
    ShowErrorBox("SetupDiGetClassDevs(): ", ::GetLastError());
    return;
  }
  SP_DEVINFO_DATA device{};
  if (!LocateDeviceInfo(set.get(), *instanceId, &device)) return;
  HTREEITEM classItem = FindOrAddClassItem(device.ClassGuid, eventType);
  if (classItem == nullptr) return;

  const DeviceTree::Entry entry{device.ClassGuid, *instanceId};
  if (HTREEITEM deviceItem = treeDevices_.Find(classItem, entry)) {
    if (!arrival) {
      // A pending Disable command must not reach an item that is gone.
      if (menuTargetItem_ == deviceItem) menuTargetItem_ = nullptr;
      treeDevices_.Delete(deviceItem);
      DeleteClassItemIfEmpty(treeDevices_, classItem);
    }
    return;
  }
  if (!arrival) return;

  const int image = ClassImageIndex(device.ClassGuid);
  if (treeDevices_.Add(classItem, DeviceDisplayName(set.get(), &device), image, entry)) {
    treeDevices_.Expand(classItem, TVE_EXPAND);
    return;
  }
  // Every class item keeps at least one device item: undo what could not be completed.
  DeleteClassItemIfEmpty(treeDevices_, classItem);
}

HTREEITEM CKesticDlg::FindOrAddClassItem(const GUID& classGuid, UINT eventType) {
  const DeviceTree::Entry entry{classGuid, {}};
  if (HTREEITEM item = treeDevices_.Find(rootItem_, entry)) return item;
  if (eventType != DBT_DEVICEARRIVAL) return nullptr;

  const int image = ClassImageIndex(classGuid);
  HTREEITEM item = treeDevices_.Add(rootItem_, ClassDescription(classGuid), image, entry);
  if (item != nullptr) treeDevices_.Expand(rootItem_, TVE_EXPAND);
  return item;
}

bool CKesticDlg::LocateDeviceInfo(HDEVINFO set, std::string_view instanceId,
                                  SP_DEVINFO_DATA* record) {
  record->cbSize = sizeof(SP_DEVINFO_DATA);
  for (DWORD index = 0; ::SetupDiEnumDeviceInfo(set, index, record); ++index) {
    std::array<char, obrint::kMaxPath> id{};
    if (!::SetupDiGetDeviceInstanceIdA(set, record, id.data(), static_cast<DWORD>(id.size()),
                                       nullptr)) {
      DebugTrace("SetupDiGetDeviceInstanceId(): " + SystemErrorText(::GetLastError()));
      return false;
    }
    if (instanceId == id.data()) return true;
  }
  return false;
}

std::string CKesticDlg::ClassDescription(const GUID& classGuid) {
  std::array<wchar_t, obrint::kMaxPath> description{};
  if (!::SetupDiGetClassDescriptionW(&classGuid, description.data(),
                                     static_cast<DWORD>(description.size()), nullptr)) {
    DebugTrace("Can't get class description: " + SystemErrorText(::GetLastError()));
    return {};
  }
  return obrint::winbase::Narrow(description.data());
}

int CKesticDlg::ClassImageIndex(const GUID& classGuid) {
  int index = -1;
  if (!::SetupDiGetClassImageIndex(&classImageList_, &classGuid, &index)) {
    DebugTrace("Can't get class image index: " + SystemErrorText(::GetLastError()));
    return -1;
  }
  return index;
}

void CKesticDlg::OnContextMenu(HWND, POINT screenPoint) {
  menuTargetItem_ = nullptr;
  POINT clientPoint = screenPoint;
  ::ScreenToClient(treeDevices_.GetSafeHwnd(), &clientPoint);
  HTREEITEM item = treeDevices_.HitTest(clientPoint);
  if (item == nullptr || item == rootItem_ || treeDevices_.GetParentItem(item) == rootItem_) {
    return;
  }
  treeDevices_.SelectItem(item);
  menuTargetItem_ = item;
  ::TrackPopupMenu(popupMenu_, TPM_LEFTALIGN | TPM_LEFTBUTTON, screenPoint.x, screenPoint.y, 0,
                   GetSafeHwnd(), nullptr);
}

void CKesticDlg::OnDisableDevice() {
  if (menuTargetItem_ == nullptr) return;
  const DeviceTree::Entry* target = treeDevices_.EntryOf(menuTargetItem_);
  if (target == nullptr) return;
  // A copy: the item may go while a box below waits for the user.
  const std::string instanceId = target->instanceId;

  DeviceInstaller systemInstaller;
  DisableDeviceInstance(systemInstaller, instanceId);
}

HDEVINFO DeviceInstaller::GetClassDevs(const GUID* classGuid, PCSTR enumerator, HWND parent,
                                       DWORD flags) {
  return ::SetupDiGetClassDevsA(classGuid, enumerator, parent, flags);
}

bool DeviceInstaller::LocateDeviceInfo(HDEVINFO set, std::string_view instanceId,
                                       SP_DEVINFO_DATA* record) {
  return CKesticDlg::LocateDeviceInfo(set, instanceId, record);
}

BOOL DeviceInstaller::SetClassInstallParams(HDEVINFO set, SP_DEVINFO_DATA* record,
                                            SP_CLASSINSTALL_HEADER* params, DWORD size) {
  return ::SetupDiSetClassInstallParamsA(set, record, params, size);
}

BOOL DeviceInstaller::CallClassInstaller(DI_FUNCTION function, HDEVINFO set,
                                         SP_DEVINFO_DATA* record) {
  return ::SetupDiCallClassInstaller(function, set, record);
}

BOOL DeviceInstaller::DestroyDeviceInfoList(HDEVINFO set) {
  return ::SetupDiDestroyDeviceInfoList(set);
}

void DeviceInstaller::ShowErrorBox(std::string_view prefix, DWORD code) {
  ::ShowErrorBox(prefix, code);
}

void DeviceInstaller::ShowPlainBox(std::string_view text) { ::ShowPlainBox(text); }

namespace {

// Asks the class installer to disable the device of `set` with this instance ID, and shows the
// outcome; nothing when the device is not in the set.
void DisableInSet(DeviceInstaller& installer, HDEVINFO set, std::string_view instanceId) {
  SP_PROPCHANGE_PARAMS request{};
  request.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
  request.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
  request.StateChange = DICS_DISABLE;
  request.Scope = DICS_FLAG_GLOBAL;

  SP_DEVINFO_DATA device{};
  if (!installer.LocateDeviceInfo(set, instanceId, &device)) return;
  if (!installer.SetClassInstallParams(set, &device, &request.ClassInstallHeader,
                                       sizeof(request))) {
    installer.ShowErrorBox("SetupDiSetClassInstallParams(): ", ::GetLastError());
    return;
  }
  if (!installer.CallClassInstaller(DIF_PROPERTYCHANGE, set, &device)) {
    installer.ShowErrorBox("SetupDiClassInstaller(): ", ::GetLastError());
    return;
  }
  installer.ShowPlainBox("Dislabe OK");
}

}  // namespace

void DisableDeviceInstance(DeviceInstaller& installer, std::string_view instanceId) {
  HDEVINFO set = installer.GetClassDevs(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
  if (set == INVALID_HANDLE_VALUE) {
    installer.ShowErrorBox("SetupDiGetClassDevs(): ", ::GetLastError());
    return;
  }
  DisableInSet(installer, set, instanceId);
  // The set goes after the box that reports the outcome, however it ended.
  installer.DestroyDeviceInfoList(set);
}
