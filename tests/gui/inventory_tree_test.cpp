// The Device tree and the Status log following HID interface arrivals and removals.
#include <windows.h>
#include <dbt.h>

#include <gtest/gtest.h>

#include "driver.h"
#include "inventory_support.h"

namespace obrint::gui::inventory {
namespace {

class InventoryTreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    interfaces_ = PresentHidInterfaces();
    ASSERT_FALSE(interfaces_.empty()) << "the Wine prefix lists no HID interface";
    main_ = program_.WaitForMainWindow();
    ASSERT_TRUE(main_) << "Obrint's Main window did not appear";
    tree_ = main_.Child(kTree);
    initial_ = Rows(tree_);
    ASSERT_EQ(initial_.size(), 1u) << "the tree starts with its root item alone";
  }

  LRESULT Arrive(const std::wstring& name) {
    return main_.SendDeviceInterfaceChange(DBT_DEVICEARRIVAL, name, kHidInterfaceClass);
  }
  LRESULT Remove(const std::wstring& name) {
    return main_.SendDeviceInterfaceChange(DBT_DEVICEREMOVECOMPLETE, name, kHidInterfaceClass);
  }
  std::wstring Log() const { return main_.ChildText(kLog); }

  Row RootRow(bool expanded) const { return {0, initial_[0].text, expanded}; }
  static Row ClassRow(const HidInterface& device) { return {1, device.classDescription, true}; }
  static Row DeviceRow(const HidInterface& device) { return {2, device.displayName, false}; }

  // Two present interfaces whose devices share a setup class, if the machine has them.
  std::optional<std::pair<HidInterface, HidInterface>> TwoOfOneClass() const {
    for (size_t i = 0; i < interfaces_.size(); ++i) {
      for (size_t j = i + 1; j < interfaces_.size(); ++j) {
        if (IsEqualGUID(interfaces_[i].classGuid, interfaces_[j].classGuid) &&
            interfaces_[i].instanceId != interfaces_[j].instanceId) {
          return std::make_pair(interfaces_[i], interfaces_[j]);
        }
      }
    }
    return std::nullopt;
  }

  std::vector<HidInterface> interfaces_;
  Program program_;
  Window main_;
  Window tree_;
  std::vector<Row> initial_;
};

TEST_F(InventoryTreeTest, ArrivalAddsTheClassAndTheDeviceAndLogsTheInstanceId) {
  const HidInterface& device = interfaces_.front();
  EXPECT_EQ(Arrive(device.name), 0);

  EXPECT_EQ(Rows(tree_), (std::vector<Row>{RootRow(true), ClassRow(device), DeviceRow(device)}));
  // The log names the device as the device installer does.
  EXPECT_EQ(Log(), L"设备链接 " + device.instanceId + L"\r\n");
}

TEST_F(InventoryTreeTest, RepeatedArrivalOnlyAddsItsLine) {
  const HidInterface& device = interfaces_.front();
  Arrive(device.name);
  const std::vector<Row> once = Rows(tree_);
  Arrive(device.name);

  EXPECT_EQ(Rows(tree_), once);
  const std::wstring line = L"设备链接 " + device.instanceId + L"\r\n";
  EXPECT_EQ(Log(), line + line);
}

TEST_F(InventoryTreeTest, RemovalDeletesTheDeviceAndItsLastClassItem) {
  const HidInterface& device = interfaces_.front();
  Arrive(device.name);
  EXPECT_EQ(Remove(device.name), 0);

  EXPECT_EQ(Rows(tree_), (std::vector<Row>{RootRow(true)}));
  EXPECT_EQ(Log(),
            L"设备链接 " + device.instanceId + L"\r\n设备断开 " + device.instanceId + L"\r\n");
}

TEST_F(InventoryTreeTest, RemovalOfADeviceThatNeverArrivedOnlyLogs) {
  const HidInterface& device = interfaces_.front();
  Remove(device.name);

  EXPECT_EQ(Rows(tree_), initial_);
  EXPECT_EQ(Log(), L"设备断开 " + device.instanceId + L"\r\n");
}

TEST_F(InventoryTreeTest, NamesAreMatchedWhateverTheirCase) {
  const HidInterface& device = interfaces_.front();
  std::wstring upper = device.name;
  for (wchar_t& c : upper) c = static_cast<wchar_t>(towupper(c));
  Arrive(device.name);
  Remove(upper);

  EXPECT_EQ(Rows(tree_), (std::vector<Row>{RootRow(true)}));
}

TEST_F(InventoryTreeTest, RootEnumeratedDevicesAreOnlyLogged) {
  const std::optional<std::wstring> rootDevice = FirstRootDeviceId();
  if (!rootDevice) GTEST_SKIP() << "the device installer knows no ROOT device here";
  // A real device, so that only the enumerator keeps it out of the tree.
  Arrive(InterfaceNameFor(*rootDevice));

  EXPECT_EQ(Rows(tree_), initial_);
  EXPECT_EQ(Log(), L"设备链接 " + *rootDevice + L"\r\n");
}

TEST_F(InventoryTreeTest, TwoDevicesOfOneClassShareTheClassItemUntilBothHaveGone) {
  const auto pair = TwoOfOneClass();
  if (!pair) GTEST_SKIP() << "no two HID devices of one setup class here";
  const auto& [first, second] = *pair;
  Arrive(first.name);
  Arrive(second.name);
  // Arrival order, not sorted.
  EXPECT_EQ(Rows(tree_), (std::vector<Row>{RootRow(true), ClassRow(first), DeviceRow(first),
                                           DeviceRow(second)}));

  Remove(first.name);
  EXPECT_EQ(Rows(tree_), (std::vector<Row>{RootRow(true), ClassRow(second), DeviceRow(second)}));
  // The device left is the second one: the first one's removal no longer finds anything.
  Remove(first.name);
  EXPECT_EQ(Rows(tree_).size(), 3u);
  Remove(second.name);
  EXPECT_EQ(Rows(tree_), (std::vector<Row>{RootRow(true)}));
  SaveScreenshot(L"inventory_tree_after_removals", main_);
}

TEST_F(InventoryTreeTest, ScreenshotOfAClassWithTwoDevices) {
  const auto pair = TwoOfOneClass();
  if (!pair) GTEST_SKIP() << "no two HID devices of one setup class here";
  Arrive(pair->first.name);
  Arrive(pair->second.name);
  ASSERT_EQ(Rows(tree_).size(), 4u);
  EXPECT_FALSE(SaveScreenshot(L"inventory_tree_class_with_two_devices", main_).empty());
}

TEST_F(InventoryTreeTest, NamesOfNoKnownShapeAreLoggedAsTheyCame) {
  for (const std::wstring name : {L"\\\\?\\", L"\\\\?\\HID", L"\\\\?\\HID\\VID#X#{g}", L"x"}) {
    Arrive(name);
  }
  EXPECT_EQ(Rows(tree_), initial_);
  EXPECT_EQ(Log(),
            L"设备链接 \\\\?\\\r\n设备链接 \\\\?\\HID\r\n设备链接 \\\\?\\HID\\VID#X#{g}\r\n"
            L"设备链接 x\r\n");
}

TEST_F(InventoryTreeTest, OtherEventsAndRecordsAreIgnored) {
  const HidInterface& device = interfaces_.front();
  EXPECT_EQ(main_.Send(WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0), 0);
  EXPECT_EQ(main_.SendDeviceInterfaceChange(DBT_DEVICEQUERYREMOVE, device.name, kHidInterfaceClass),
            0);
  EXPECT_EQ(
      main_.SendDeviceInterfaceChange(DBT_DEVICEREMOVEPENDING, device.name, kHidInterfaceClass), 0);
  DEV_BROADCAST_VOLUME volume{};
  volume.dbcv_size = sizeof volume;
  volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
  volume.dbcv_unitmask = 1u << 4;
  EXPECT_EQ(main_.Send(WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&volume)), 0);

  EXPECT_EQ(Rows(tree_), initial_);
  EXPECT_EQ(Log(), L"");
}

}  // namespace
}  // namespace obrint::gui::inventory
