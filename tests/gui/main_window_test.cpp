// Obrint's Main window as the user first sees it.
#include <gtest/gtest.h>

#include <map>

#include "driver.h"

namespace obrint::gui {
namespace {

constexpr int kTree = 1000, kLog = 1001, kUpgrade = 1002, kBootFirmware = 1003, kDeviceInfo = 1004,
              kVerify = 1005, kRunMode = 1006, kDk2 = 1007, kDk1 = 1008;

std::wstring ComputerName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof name;
  GetComputerNameA(name, &size);
  wchar_t wide[MAX_COMPUTERNAME_LENGTH + 1] = {};
  MultiByteToWideChar(CP_ACP, 0, name, -1, wide, MAX_COMPUTERNAME_LENGTH + 1);
  return wide;
}

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    main_ = program_.WaitForMainWindow();
    ASSERT_TRUE(main_) << "Obrint's Main window did not appear";
  }
  Program program_;
  Window main_;
};

TEST_F(MainWindowTest, CaptionIsTheProductTitle) { EXPECT_EQ(main_.Text(), L"VR设备控制端"); }

TEST_F(MainWindowTest, ControlsCarryTheirTextsInCreationOrder) {
  const std::map<int, std::wstring> texts = {
      {kTree, L""},
      {kLog, L""},
      {kUpgrade, L"升级固件程序"},
      {kBootFirmware, L"下载引导固件"},
      {kDeviceInfo, L"获取设备信息"},
      {kVerify, L"校验固件程序"},
      {kRunMode, L"设置运行模式"},
      {kDk2, L"DK2兼容"},
      {kDk1, L"DK1兼容"},
  };
  std::vector<int> order;
  for (const Window& child : main_.Children()) order.push_back(child.Id());
  EXPECT_EQ(order, (std::vector<int>{kTree, kLog, kUpgrade, kBootFirmware, kDeviceInfo, kVerify,
                                     kRunMode, kDk2, kDk1}));
  for (const auto& [id, text] : texts) EXPECT_EQ(main_.ChildText(id), text) << "control " << id;
  EXPECT_EQ(main_.Child(kTree).ClassName(), L"SysTreeView32");
}

TEST_F(MainWindowTest, ModeControlsStartDisabledAndUnchecked) {
  for (int id : {kRunMode, kDk2, kDk1}) EXPECT_FALSE(main_.Child(id).IsEnabled()) << id;
  EXPECT_FALSE(main_.Child(kDk2).IsChecked());
  EXPECT_FALSE(main_.Child(kDk1).IsChecked());
  EXPECT_EQ(main_.Child(kDk2).Style() & BS_TYPEMASK, BS_AUTORADIOBUTTON);
  EXPECT_EQ(main_.Child(kDk1).Style() & BS_TYPEMASK, BS_AUTORADIOBUTTON);
}

TEST_F(MainWindowTest, CommandButtonsStartEnabled) {
  for (int id : {kUpgrade, kBootFirmware, kDeviceInfo, kVerify})
    EXPECT_TRUE(main_.Child(id).IsEnabled()) << id;
}

TEST_F(MainWindowTest, StatusLogStartsEmptyAndReadOnly) {
  const Window log = main_.Child(kLog);
  EXPECT_EQ(log.Text(), L"");
  EXPECT_EQ(log.Style() & (ES_MULTILINE | ES_READONLY | ES_WANTRETURN),
            ES_MULTILINE | ES_READONLY | ES_WANTRETURN);
}

TEST_F(MainWindowTest, DeviceTreeHoldsOnlyTheComputer) {
  const auto roots = main_.Child(kTree).TreeItems();
  ASSERT_EQ(roots.size(), 1u);
  EXPECT_EQ(roots[0].text, ComputerName());
  EXPECT_TRUE(roots[0].children.empty());
}

// Four command buttons in one row (1004, 1002, 1005, 1003 from left to right), the run mode
// button under the first with the radio buttons to its right, the tree below, the log under it.
TEST_F(MainWindowTest, ControlsStandInTheirRows) {
  auto rect = [&](int id) { return main_.Child(id).Rect(); };
  const int row = rect(kDeviceInfo).top;
  int left = rect(kDeviceInfo).left;
  for (int id : {kUpgrade, kVerify, kBootFirmware}) {
    EXPECT_EQ(rect(id).top, row) << id;
    EXPECT_GT(rect(id).left, left) << id;
    left = rect(id).left;
  }
  EXPECT_EQ(rect(kRunMode).left, rect(kDeviceInfo).left);
  EXPECT_GT(rect(kRunMode).top, rect(kDeviceInfo).bottom);
  EXPECT_GT(rect(kDk2).left, rect(kRunMode).right);
  EXPECT_GT(rect(kDk1).left, rect(kDk2).left);
  EXPECT_GT(rect(kTree).top, rect(kRunMode).bottom);
  EXPECT_GT(rect(kLog).top, rect(kTree).bottom);
  const RECT window = main_.Rect();
  EXPECT_GT(rect(kDeviceInfo).top - window.top, 0);
  EXPECT_LT(rect(kLog).bottom, window.bottom);
}

TEST_F(MainWindowTest, Screenshot) { EXPECT_FALSE(SaveScreenshot(L"main-window", main_).empty()); }

}  // namespace
}  // namespace obrint::gui
