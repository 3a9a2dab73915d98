// The Device tree, the Status log and the adopted headset following HID interface arrivals and
// removals, and the tree's context menu with its Disable command. What the tree should show comes
// from the platform's device installer.
#include "gui_support.h"

#include <setupapi.h>

#include <algorithm>
#include <cstdlib>
#include <cwctype>

#include "winbase/handles.h"

namespace obrint::gui {
namespace {

// A present device, and its HID interface, as the device installer describes them.
struct Device {
  std::wstring name;  // \\?\hid#vid_...#...#{4d1e55b2-...}, as notifications carry it
  std::wstring instanceId, displayName, classDescription;
};

constexpr GUID kHidClass = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

// The present HID interfaces of other vendors than the headset's; with ROOT, the instance ID of
// the first device of that enumerator instead.
std::vector<Device> PresentDevices(const wchar_t* enumerator = nullptr) {
  std::vector<Device> found;
  const DWORD flags = enumerator ? DIGCF_ALLCLASSES : DIGCF_DEVICEINTERFACE;
  const winbase::UniqueDeviceInfoSet owner(
      SetupDiGetClassDevsW(&kHidClass, enumerator, nullptr, flags | DIGCF_PRESENT));
  HDEVINFO set = owner.get();
  SP_DEVICE_INTERFACE_DATA iface{};
  iface.cbSize = sizeof iface;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD i = 0; enumerator ? SetupDiEnumDeviceInfo(set, i, &device)
                               : SetupDiEnumDeviceInterfaces(set, nullptr, &kHidClass, i, &iface);
       ++i) {
    union {
      SP_DEVICE_INTERFACE_DETAIL_DATA_W detail;
      wchar_t bytes[1024];
    } path{};
    path.detail.cbSize = sizeof path.detail;
    wchar_t id[MAX_PATH] = {}, description[MAX_PATH] = {}, friendly[MAX_PATH] = {};
    if (!enumerator && !SetupDiGetDeviceInterfaceDetailW(set, &iface, &path.detail, sizeof path,
                                                         nullptr, &device)) {
      continue;
    }
    SetupDiGetDeviceInstanceIdW(set, &device, id, MAX_PATH, nullptr);
    if (std::wstring(id).find(L"VID_2833") != std::wstring::npos) continue;
    SetupDiGetClassDescriptionW(&device.ClassGuid, description, MAX_PATH, nullptr);
    for (const DWORD property : {SPDRP_DEVICEDESC, SPDRP_FRIENDLYNAME}) {
      SetupDiGetDeviceRegistryPropertyW(set, &device, property, nullptr,
                                        reinterpret_cast<BYTE*>(friendly), sizeof friendly - 2,
                                        nullptr);
    }
    found.push_back({path.detail.DevicePath, id, friendly, description});
    if (enumerator) break;
  }
  return found;
}

class InventoryTest : public ObrintTest {
 protected:
  sim::HeadsetConfig Config() const override {
    sim::HeadsetConfig config;
    config.applicationVersion = 0xB4C7;
    config.mcuId = {0xF1, 0x0E, 0xD2, 0x3C, 0x00, 0xA5, 0x5A, 0xFF, 0x80, 0x7F, 0x01, 0x10};
    return config;
  }
  void SetUp() override {
    ObrintTest::SetUp();
    if (HasFatalFailure()) return;
    // Wine's bus lists its devices a moment after a new wineserver starts.
    WaitFor([this] { return !(devices_ = PresentDevices()).empty(); });
    ASSERT_FALSE(devices_.empty()) << "the Wine prefix lists no HID interface";
    tree_ = main_.Child(kTree);
    root_ = tree_.TreeRows().at(0).text;
  }
  std::vector<TreeRow> Rows() const { return tree_.TreeRows(); }
  std::vector<TreeRow> WithDevices(const std::vector<const Device*>& devices) const {
    std::vector<TreeRow> rows = {{0, root_, true}};
    if (!devices.empty()) rows.push_back({1, devices[0]->classDescription, true});
    for (const Device* d : devices) rows.push_back({2, d->displayName, false});
    return rows;
  }

  std::vector<Device> devices_;
  Window tree_;
  std::wstring root_;
};

TEST_F(InventoryTest, ArrivalRepeatAndRemovalWhateverTheCaseOfTheName) {
  const Device& device = devices_.front();
  const std::wstring connected = L"设备链接 " + device.instanceId + L"\r\n";
  const std::wstring disconnected = L"设备断开 " + device.instanceId + L"\r\n";
  EXPECT_EQ(Remove(device.name), 0);  // never arrived: only logged
  EXPECT_EQ(Rows(), (std::vector<TreeRow>{{0, root_, false}}));
  EXPECT_EQ(Arrive(device.name), 0);
  EXPECT_EQ(Rows(), WithDevices({&device}));
  Arrive(device.name);
  EXPECT_EQ(Rows(), WithDevices({&device}));
  std::wstring upper = device.name;
  for (wchar_t& c : upper) c = static_cast<wchar_t>(std::towupper(c));
  Remove(upper);
  EXPECT_EQ(Rows(), WithDevices({}));
  EXPECT_EQ(Log(), disconnected + connected + connected + disconnected);
}

TEST_F(InventoryTest, TwoDevicesOfOneClassShareTheClassItemUntilBothHaveGone) {
  const Device* first = &devices_.front();
  const auto second = std::find_if(devices_.begin(), devices_.end(), [&](const Device& d) {
    return d.classDescription == first->classDescription && d.instanceId != first->instanceId;
  });
  if (second == devices_.end()) GTEST_SKIP() << "no two HID devices of one setup class here";
  Arrive(first->name);
  Arrive(second->name);
  EXPECT_EQ(Rows(), WithDevices({first, &*second}));  // in arrival order
  SaveScreenshot(L"tree-class-with-two-devices", main_);
  Remove(first->name);
  EXPECT_EQ(Rows(), WithDevices({&*second}));
  Remove(first->name);  // finds nothing any more
  EXPECT_EQ(Rows(), WithDevices({&*second}));
  Remove(second->name);
  EXPECT_EQ(Rows(), WithDevices({}));
}

TEST_F(InventoryTest, OtherEventsRootDevicesAndUnknownNamesLeaveTheTreeAlone) {
  const std::wstring& name = devices_.front().name;
  EXPECT_EQ(main_.Send(WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0), 0);
  EXPECT_EQ(main_.SendHidInterfaceChange(DBT_DEVICEQUERYREMOVE, name), 0);
  EXPECT_EQ(main_.SendHidInterfaceChange(DBT_DEVICEREMOVEPENDING, name), 0);
  DEV_BROADCAST_VOLUME volume{sizeof volume, DBT_DEVTYP_VOLUME, 0, 1u << 4, 0};
  EXPECT_EQ(main_.Send(WM_DEVICECHANGE, DBT_DEVICEARRIVAL, LPARAM(&volume)), 0);
  EXPECT_EQ(Log(), L"");

  // A real device of the ROOT enumerator, so that only the enumerator keeps it out of the tree.
  const std::vector<Device> root = PresentDevices(L"ROOT");
  ASSERT_FALSE(root.empty()) << "no device of the ROOT enumerator here";
  const std::wstring& rootDevice = root[0].instanceId;
  std::wstring rootName = L"\\\\?\\" + rootDevice + L"#{4d1e55b2-f16f-11cf-88cb-001111000030}";
  std::replace(rootName.begin() + 4, rootName.end(), L'\\', L'#');
  std::wstring expected = L"设备链接 " + rootDevice + L"\r\n";
  for (const std::wstring& odd : {rootName, std::wstring(L"\\\\?\\"), std::wstring(L"\\\\?\\HID"),
                                  std::wstring(L"\\\\?\\HID\\VID#X#{g}"), std::wstring(L"x")}) {
    Arrive(odd);
    if (odd != rootName) expected += L"设备链接 " + odd + L"\r\n";
  }
  EXPECT_EQ(Rows(), (std::vector<TreeRow>{{0, root_, false}}));
  EXPECT_EQ(Log(), expected);
}

TEST_F(InventoryTest, TheHeadsetIsAdoptedFromItsApplicationInterfaceOnlyAndRead) {
  const Device& other = devices_.front();
  // Another vendor's device alone: the search for the boot firmware finds nothing.
  Arrive(other.name);
  EXPECT_EQ(Mode(), kModeOff);
  // The boot firmware's interface is listed, but not on the bus while the application runs.
  Arrive(HeadsetInterfaceName(L"0001"));
  EXPECT_EQ(Mode(), kModeOff);
  std::wstring lower = HeadsetInterfaceName(L"0021");
  for (wchar_t& c : lower) c = static_cast<wchar_t>(std::towlower(c));
  Arrive(lower);
  EXPECT_EQ(Mode(), kDk2Shown);
  // The adopted interface is the one 1004 reads: the ID as three 32-bit little-endian words, each
  // shown most significant byte first.
  main_.Click(kDeviceInfo);
  EXPECT_TRUE(WaitFor([&] { return Log() == L"版本信息 B4C7:3CD20EF1FF5AA50010017F80\r\n"; }))
      << winbase::Narrow(Log());

  // Another vendor's arrival refreshes the Mode controls from the adopted headset.
  ChangeHeadset([](sim::Headset& headset) {
    const std::uint8_t dk1[4] = {0x59, 1, 0, 0xFE};
    headset.SetFeature(headset.generation(), dk1, sizeof dk1);
  });
  Arrive(other.name);
  EXPECT_EQ(Mode(), kDk1Shown);

  // Unplugged: the removal is logged, and the Mode controls stay as they were.
  ChangeHeadset([](sim::Headset& headset) { headset.Unplug(); });
  Remove(HeadsetInterfaceName(L"0021"));
  EXPECT_EQ(Mode(), kDk1Shown);
  EXPECT_TRUE(Log().ends_with(L"\r\n设备断开 HID\\VID_2833&PID_0021\\7&1A2B3C4D&0&0000\r\n"))
      << winbase::Narrow(Log());
}

// The tree with one device: rows 0 (root), 1 (class) and 2 (device), then rows without items.
class TreeMenuTest : public InventoryTest {
 protected:
  static constexpr WORD kDisableCommand = 32772;

  void SetUp() override {
    InventoryTest::SetUp();
    if (HasFatalFailure()) return;  // no device to arrive
    Arrive(devices_.front().name);
    ASSERT_EQ(Rows().size(), 3u);
  }
  // The screen point in the middle of the tree's row `row`.
  POINT RowPoint(int row) const {
    const auto height = static_cast<int>(tree_.Send(TVM_GETITEMHEIGHT, 0, 0));
    RECT client{};
    GetClientRect(tree_.hwnd(), &client);
    POINT point{client.right / 2, row * height + height / 2};
    ClientToScreen(tree_.hwnd(), &point);
    return point;
  }
  // A right-click at the row: WM_CONTEXTMENU as the tree sends it to its dialog. Posted, since an
  // open popup holds the window's thread until it closes.
  Window RightClick(int row, Millis wait = kTimeout) const {
    const POINT p = RowPoint(row);
    main_.Post(WM_CONTEXTMENU, WPARAM(tree_.hwnd()), MAKELPARAM(p.x, p.y));
    return program_->WaitForWindow(IsPopupMenu, wait);
  }
  void CloseMenu(const Window& menu) const {
    menu.PressKey(VK_ESCAPE);
    ASSERT_TRUE(WaitFor([&] { return !menu; }));
  }
};

TEST_F(TreeMenuTest, OnlyADeviceItemOpensTheMenuAtTheClickedPoint) {
  for (const int row : {0, 1, 4}) EXPECT_FALSE(RightClick(row, Millis(500))) << "row " << row;

  const Window menu = RightClick(2);
  ASSERT_TRUE(menu) << "no menu on the device";
  EXPECT_LE(std::abs(menu.Rect().left - RowPoint(2).x), 2);
  EXPECT_LE(std::abs(menu.Rect().top - RowPoint(2).y), 2);
  CloseMenu(menu);
}

TEST_F(TreeMenuTest, DisableShowsTheDeviceInstallersAnswer) {
  CloseMenu(RightClick(2));
  main_.Post(WM_COMMAND, kDisableCommand, 0);
  const Window box = Box({});
  ASSERT_TRUE(box) << "the Disable command showed no box";
  // Wine's device installer cannot change a device's state; a real one may well succeed.
  const std::vector<std::wstring> texts = box.ChildTexts();
  EXPECT_TRUE(std::ranges::any_of(texts, [](const std::wstring& text) {
    return text == L"Dislabe OK" || text.starts_with(L"SetupDiSetClassInstallParams(): ") ||
           text.starts_with(L"SetupDiClassInstaller(): ");
  })) << winbase::Narrow(texts.at(0));
  EXPECT_TRUE(Answer(box, IDOK));
}

TEST_F(TreeMenuTest, ATargetRemovedWhileItsMenuIsOpenIsNotDisabled) {
  const Window menu = RightClick(2);
  ASSERT_TRUE(menu);
  // The window handles the event inside the menu's loop.
  Remove(devices_.front().name);
  CloseMenu(menu);
  main_.Post(WM_COMMAND, kDisableCommand, 0);
  EXPECT_FALSE(Box({}, Millis(1500)));
  EXPECT_EQ(Rows().size(), 1u) << "the program is gone, or kept the device";
}

}  // namespace
}  // namespace obrint::gui
