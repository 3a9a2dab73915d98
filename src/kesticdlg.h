// The Main window: dialog 102 with the Device tree, the Status log, the command buttons and the
// Mode controls, and every handler of the program (in kesticdlg.cpp, kesticdlg_headset.cpp and
// kesticdlg_inventory.cpp).
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <dbt.h>
#include <setupapi.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

#include "presenters/window.h"
#include "dlgkit/controls.h"
#include "dlgkit/dlgkit.h"
#include "resource.h"
#include "winbase/handles.h"

// The device-installer calls of the Disable command and the boxes that tell the user how it
// went. The members' defaults are the system's own calls; a test overrides them to stand in for
// the device installer.
class DeviceInstaller {
 public:
  virtual ~DeviceInstaller() = default;
  virtual HDEVINFO GetClassDevs(const GUID* classGuid, PCSTR enumerator, HWND parent, DWORD flags);
  virtual bool LocateDeviceInfo(HDEVINFO set, std::string_view instanceId, SP_DEVINFO_DATA* record);
  virtual BOOL SetClassInstallParams(HDEVINFO set, SP_DEVINFO_DATA* record,
                                     SP_CLASSINSTALL_HEADER* params, DWORD size);
  virtual BOOL CallClassInstaller(DI_FUNCTION function, HDEVINFO set, SP_DEVINFO_DATA* record);
  virtual BOOL DestroyDeviceInfoList(HDEVINFO set);
  virtual void ShowErrorBox(std::string_view prefix, DWORD code);
  virtual void ShowPlainBox(std::string_view text);
};

// Disables the device with this instance ID in all hardware profiles, and shows the outcome.
void DisableDeviceInstance(DeviceInstaller& installer, std::string_view instanceId);

// The Device tree: the tree control, with what each item below the root stands for kept beside
// it: a class item its setup class, a device item its class and device instance ID.
class DeviceTree : public dlgkit::CTreeCtrl {
 public:
  struct Entry {
    GUID classGuid;
    std::string instanceId;  // empty for a class item
    bool operator==(const Entry&) const = default;
  };
  // A new last child of `parent` that stands for `entry`; null when the control refuses it.
  HTREEITEM Add(HTREEITEM parent, std::string_view text, int image, const Entry& entry);
  // The first child of `parent` that stands for `entry`, or null.
  HTREEITEM Find(HTREEITEM parent, const Entry& entry) const;
  // What `item` stands for; null for the root item and for items that are gone.
  const Entry* EntryOf(HTREEITEM item) const;
  void Delete(HTREEITEM item);

 private:
  std::unordered_map<HTREEITEM, Entry> entries_;
};

class CKesticDlg : public dlgkit::CDialogBase,
                   public obrint::presenters::UserInterface,
                   public obrint::presenters::ModeControls {
 public:
  explicit CKesticDlg(HWND parent = nullptr);

  // Status log and message boxes (UTF-8 texts).
  void ShowStatus(std::string_view text) override;
  void AppendStatus(std::string_view line);
  int ShowWindowBox(std::string_view body, std::string_view caption, unsigned type) override;
  void SetCaption(std::string_view text) override;
  std::string ChooseImageFile() override;

  // The Mode controls: button 1006 and radio buttons 1008 (DK1兼容) and 1007 (DK2兼容).
  void EnableModeControls(bool enabled) override;
  void EnableRunModeButton(bool enabled) override;
  void SetModeChecks(bool dk1Checked, bool dk2Checked) override;
  bool IsDk1Checked() override;
  bool IsDk2Checked() override;

  // Headset commands (buttons 1004, 1002, 1005, 1006; 1003 has none) and the Mode controls'
  // refresh.
  void OnGetDeviceInfo();
  void OnUpgradeFirmware();
  void OnVerifyFirmware();
  void OnSetRunMode();
  void RefreshModeControls();

  // Device events (wide-character records: a Unicode window) and the Device tree.
  BOOL OnDeviceChange(UINT eventType, DWORD_PTR eventData);
  void AdoptHeadsetInterface(const DEV_BROADCAST_DEVICEINTERFACE_W* record);
  // Makes the headset with these IDs the one to talk to, when discovery finds its interface.
  void AdoptHeadset(std::uint16_t vid, std::uint16_t pid);
  static bool LocateDeviceInfo(HDEVINFO set, std::string_view instanceId, SP_DEVINFO_DATA* record);

  // The Device tree's context menu and its Disable command.
  void OnContextMenu(HWND window, POINT screenPoint);
  void OnDisableDevice();

  // The Main window's own handlers; false hands the message to the default dialog handling.
  bool OnSysCommand(UINT commandId, LPARAM lParam);
  bool OnPaint();
  HCURSOR OnQueryDragIcon() const { return icon_; }

 protected:
  dlgkit::MessageMap GetMessageMap() const override;
  void DoDataExchange() override;
  BOOL OnInitDialog() override;

 private:
  // The Device tree's root item (the computer), with the class image list behind the tree.
  void SetUpDeviceTree();
  // Registers the window for HID device-interface notifications; false after a failure, which
  // has been shown to the user.
  bool RegisterDeviceNotifications();
  // Searches for the headset under the known IDs when no Device path is known yet.
  void FindDevicePathIfUnknown();
  // The event's Status log line and the Device tree's update: the device item added or deleted
  // under its class item, which an arrival adds and the last removal deletes.
  void ApplyDeviceChange(const DEV_BROADCAST_DEVICEINTERFACE_W* record, UINT eventType);
  HTREEITEM FindOrAddClassItem(const GUID& classGuid, UINT eventType);
  std::string ClassDescription(const GUID& classGuid);
  int ClassImageIndex(const GUID& classGuid);

  HICON icon_ = nullptr;
  SP_CLASSIMAGELIST_DATA classImageList_{};
  HTREEITEM rootItem_ = nullptr;
  HTREEITEM menuTargetItem_ = nullptr;
  obrint::winbase::UniqueMenu menuResource_;
  HMENU popupMenu_ = nullptr;  // submenu 0 of menuResource_, owned by it
  DeviceTree treeDevices_;
  dlgkit::CEdit editStatus_;
  dlgkit::CButton btnRunMode_;
  // The window's device notification, unregistered with the window object.
  obrint::winbase::UniqueDeviceNotification deviceNotification_;
};
