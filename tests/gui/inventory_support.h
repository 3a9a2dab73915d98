// What the Device tree tests know about the machine's HID devices, read through the platform's
// own device installer and registry, and a few cross-process helpers for the tree and its popup.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <setupapi.h>

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "driver.h"

namespace obrint::gui::inventory {

inline constexpr int kTree = 1000;
inline constexpr int kLog = 1001;
inline constexpr WORD kDisableCommand = 32772;
inline constexpr GUID kHidInterfaceClass = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
inline constexpr wchar_t kHidInterfaceList[] =
    L"SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\{4D1E55B2-F16F-11CF-88CB-001111000030}";

struct DevInfoCloser {
  void operator()(HDEVINFO set) const { SetupDiDestroyDeviceInfoList(set); }
};
using DevInfo = std::unique_ptr<void, DevInfoCloser>;

inline DevInfo OpenDevInfo(const wchar_t* enumerator, DWORD flags) {
  HDEVINFO set = SetupDiGetClassDevsW(nullptr, enumerator, nullptr, flags);
  return DevInfo(set == INVALID_HANDLE_VALUE ? nullptr : set);
}

// One present HID interface as the platform describes it.
struct HidInterface {
  std::wstring name;         // \\?\hid#vid_...#...#{4d1e55b2-...}
  std::wstring instanceId;   // its device's instance ID, as the device installer gives it
  std::wstring displayName;  // the friendly name, else the description, else "Unknown"
  GUID classGuid{};
  std::wstring classDescription;
};

inline std::wstring DeviceProperty(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property) {
  std::array<wchar_t, MAX_PATH + 1> text{};
  if (!SetupDiGetDeviceRegistryPropertyW(set, device, property, nullptr,
                                         reinterpret_cast<BYTE*>(text.data()),
                                         MAX_PATH * sizeof(wchar_t), nullptr)) {
    return {};
  }
  return text.data();
}

// The registry's interface names, turned back from their key form (##?#...) into paths.
inline std::vector<std::wstring> RegisteredHidInterfaceNames() {
  std::vector<std::wstring> names;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kHidInterfaceList, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return names;
  }
  for (DWORD index = 0;; ++index) {
    std::array<wchar_t, 512> sub{};
    DWORD size = static_cast<DWORD>(sub.size());
    if (RegEnumKeyExW(key, index, sub.data(), &size, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    const std::wstring keyName(sub.data(), size);
    if (keyName.size() > 4 && keyName.compare(0, 4, L"##?#") == 0) {
      names.push_back(L"\\\\?\\" + keyName.substr(4));
    }
  }
  RegCloseKey(key);
  return names;
}

// The HID interfaces listed in the Wine prefix's registry, with what the device installer says
// about each one's device; an interface whose device it does not know is left out.
inline std::vector<HidInterface> PresentHidInterfaces() {
  std::vector<HidInterface> found;
  HDEVINFO raw = SetupDiGetClassDevsW(&kHidInterfaceClass, nullptr, nullptr,
                                      DIGCF_DEVICEINTERFACE | DIGCF_PRESENT);
  if (raw == INVALID_HANDLE_VALUE) return found;
  const DevInfo set(raw);
  const std::vector<std::wstring> names = RegisteredHidInterfaceNames();
  SP_DEVICE_INTERFACE_DATA iface{};
  iface.cbSize = sizeof iface;
  for (DWORD index = 0;
       SetupDiEnumDeviceInterfaces(raw, nullptr, &kHidInterfaceClass, index, &iface); ++index) {
    std::vector<std::byte> detailBytes(4096);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(detailBytes.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    if (!SetupDiGetDeviceInterfaceDetailW(
            raw, &iface, detail, static_cast<DWORD>(detailBytes.size()), nullptr, &device)) {
      continue;
    }
    HidInterface entry;
    // The name as the registry lists it, which is what notifications carry.
    for (const std::wstring& name : names) {
      if (CompareStringOrdinal(name.c_str(), -1, detail->DevicePath, -1, TRUE) == CSTR_EQUAL) {
        entry.name = name;
      }
    }
    if (entry.name.empty()) continue;
    std::array<wchar_t, MAX_PATH> id{};
    if (!SetupDiGetDeviceInstanceIdW(raw, &device, id.data(), static_cast<DWORD>(id.size()),
                                     nullptr)) {
      continue;
    }
    entry.instanceId = id.data();
    entry.displayName = DeviceProperty(raw, &device, SPDRP_FRIENDLYNAME);
    if (entry.displayName.empty())
      entry.displayName = DeviceProperty(raw, &device, SPDRP_DEVICEDESC);
    if (entry.displayName.empty()) entry.displayName = L"Unknown";
    entry.classGuid = device.ClassGuid;
    std::array<wchar_t, MAX_PATH> description{};
    if (SetupDiGetClassDescriptionW(&device.ClassGuid, description.data(),
                                    static_cast<DWORD>(description.size()), nullptr)) {
      entry.classDescription = description.data();
    }
    found.push_back(std::move(entry));
  }
  return found;
}

// The instance ID of the first device of the ROOT enumerator, if the machine has one.
inline std::optional<std::wstring> FirstRootDeviceId() {
  const DevInfo set = OpenDevInfo(L"ROOT", DIGCF_ALLCLASSES | DIGCF_PRESENT);
  if (!set) return std::nullopt;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  if (!SetupDiEnumDeviceInfo(set.get(), 0, &device)) return std::nullopt;
  std::array<wchar_t, MAX_PATH> id{};
  if (!SetupDiGetDeviceInstanceIdW(set.get(), &device, id.data(), static_cast<DWORD>(id.size()),
                                   nullptr)) {
    return std::nullopt;
  }
  return std::wstring(id.data());
}

// An interface name for a device instance ID, as the platform would spell it.
inline std::wstring InterfaceNameFor(std::wstring instanceId) {
  for (wchar_t& c : instanceId) {
    if (c == L'\\') c = L'#';
  }
  return L"\\\\?\\" + instanceId + L"#{4d1e55b2-f16f-11cf-88cb-001111000030}";
}

// The tree's items depth first, each with its level and whether it is expanded.
struct Row {
  int level;
  std::wstring text;
  bool expanded;
  bool operator==(const Row&) const = default;
};

inline void AddRows(const std::vector<TreeItem>& items, int level, std::vector<Row>& rows) {
  for (const TreeItem& item : items) {
    rows.push_back({level, item.text, item.expanded});
    AddRows(item.children, level + 1, rows);
  }
}

inline std::vector<Row> Rows(Window tree) {
  std::vector<Row> rows;
  AddRows(tree.TreeItems(), 0, rows);
  return rows;
}

inline std::ostream& operator<<(std::ostream& out, const Row& row) {
  return out << "{" << row.level << ", \"" << Narrow(row.text) << "\", "
             << (row.expanded ? "expanded" : "collapsed") << "}";
}

// The screen point in the middle of the tree's visible row `row` (0 = the first). Any point of
// an item's row hits that item.
inline POINT RowPoint(Window tree, int row) {
  const auto height = static_cast<int>(tree.Send(TVM_GETITEMHEIGHT, 0, 0));
  RECT client{};
  GetClientRect(tree.hwnd(), &client);
  POINT point{client.right / 2, row * height + height / 2};
  ClientToScreen(tree.hwnd(), &point);
  return point;
}

inline LPARAM PointParam(POINT point) {
  return MAKELPARAM(static_cast<WORD>(static_cast<short>(point.x)),
                    static_cast<WORD>(static_cast<short>(point.y)));
}

// The text of the tree's selected item, read in the program's memory; empty when none.
inline std::wstring SelectedItemText(Window tree) {
  const auto item = reinterpret_cast<HTREEITEM>(tree.Send(TVM_GETNEXTITEM, TVGN_CARET, 0));
  if (item == nullptr) return {};
  HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE,
                               tree.ProcessId());
  if (process == nullptr) return {};
  constexpr int kChars = 512;
  const SIZE_T bytes = sizeof(TVITEMW) + kChars * sizeof(wchar_t);
  auto* remote =
      static_cast<std::byte*>(VirtualAllocEx(process, nullptr, bytes, MEM_COMMIT, PAGE_READWRITE));
  std::wstring text;
  if (remote != nullptr) {
    TVITEMW query{};
    query.mask = TVIF_TEXT | TVIF_HANDLE;
    query.hItem = item;
    query.pszText = reinterpret_cast<wchar_t*>(remote + sizeof(TVITEMW));
    query.cchTextMax = kChars;
    std::array<wchar_t, kChars> local{};
    if (WriteProcessMemory(process, remote, &query, sizeof query, nullptr) &&
        tree.Send(TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(remote)) != 0 &&
        ReadProcessMemory(process, remote + sizeof(TVITEMW), local.data(), kChars * sizeof(wchar_t),
                          nullptr)) {
      local.back() = L'\0';
      text = local.data();
    }
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  }
  CloseHandle(process);
  return text;
}

struct PopupSearch {
  DWORD pid;
  HWND found;
};

inline BOOL CALLBACK FindPopupInProcess(HWND hwnd, LPARAM param) {
  auto* search = reinterpret_cast<PopupSearch*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  std::array<wchar_t, 16> cls{};
  GetClassNameW(hwnd, cls.data(), static_cast<int>(cls.size()));
  if (pid == search->pid && IsWindowVisible(hwnd) && std::wstring(cls.data()) == L"#32768") {
    search->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

// A visible popup menu (window class #32768) of the program's process, or none.
inline Window FindPopupMenu(const Program& program) {
  PopupSearch search{program.Id(), nullptr};
  EnumWindows(&FindPopupInProcess, reinterpret_cast<LPARAM>(&search));
  return Window(search.found);
}

}  // namespace obrint::gui::inventory
