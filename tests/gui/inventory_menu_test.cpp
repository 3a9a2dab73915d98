// The Device tree's context menu and its Disable command.
#include <windows.h>
#include <dbt.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "driver.h"
#include "inventory_support.h"

namespace obrint::gui::inventory {
namespace {

using namespace std::chrono_literals;

// Rows of a tree with one device arrived: the root, its class, the device.
constexpr int kRootRow = 0, kClassRow = 1, kDeviceRow = 2;
// The rows below the device row hold no item.
constexpr int kEmptyRow = 4;

class InventoryMenuTest : public ::testing::Test {
 protected:
  void SetUp() override {
    interfaces_ = PresentHidInterfaces();
    ASSERT_FALSE(interfaces_.empty()) << "the Wine prefix lists no HID interface";
    main_ = program_.WaitForMainWindow();
    ASSERT_TRUE(main_) << "Obrint's Main window did not appear";
    tree_ = main_.Child(kTree);
    device_ = interfaces_.front();
    main_.SendDeviceInterfaceChange(DBT_DEVICEARRIVAL, device_.name, kHidInterfaceClass);
    ASSERT_EQ(Rows(tree_).size(), 3u);
  }

  void TearDown() override {
    if (Window menu = FindPopupMenu(program_)) menu.PressKey(VK_ESCAPE);
  }

  // A right-click at the row: WM_CONTEXTMENU as the tree sends it to its dialog. Posted, since
  // an open popup holds the window's thread until it closes.
  void RightClick(int row) const {
    PostMessageW(main_.hwnd(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(tree_.hwnd()),
                 PointParam(RowPoint(tree_, row)));
    main_.Settle();
  }

  Window WaitForPopup(Millis timeout = kTimeout) const {
    return WaitFor([this] { return FindPopupMenu(program_); }, timeout);
  }

  void CloseMenu() const {
    Window menu = FindPopupMenu(program_);
    ASSERT_TRUE(menu);
    menu.PressKey(VK_ESCAPE);
    ASSERT_TRUE(WaitFor([this] { return !FindPopupMenu(program_); }));
  }

  std::vector<HidInterface> interfaces_;
  HidInterface device_;
  Program program_;
  Window main_;
  Window tree_;
};

TEST_F(InventoryMenuTest, RightClickOnADeviceSelectsItAndOpensTheMenu) {
  RightClick(kDeviceRow);
  Window menu = WaitForPopup();
  ASSERT_TRUE(menu) << "no popup menu opened";
  EXPECT_EQ(SelectedItemText(tree_), device_.displayName);
  // The popup opens at the point of the click.
  const RECT where = menu.Rect();
  const POINT click = RowPoint(tree_, kDeviceRow);
  EXPECT_LE(std::abs(where.left - click.x), 2);
  EXPECT_LE(std::abs(where.top - click.y), 2);
  CloseMenu();
}

TEST_F(InventoryMenuTest, RightClickOnTheRootAClassOrNoItemOpensNothing) {
  const std::wstring selectedBefore = SelectedItemText(tree_);
  for (int row : {kRootRow, kClassRow, kEmptyRow}) {
    RightClick(row);
    EXPECT_FALSE(WaitForPopup(500ms)) << "row " << row;
  }
  EXPECT_EQ(SelectedItemText(tree_), selectedBefore);
}

TEST_F(InventoryMenuTest, DisableWithoutATargetDoesNothing) {
  main_.PostCommand(kDisableCommand);
  EXPECT_FALSE(program_.WaitForOtherDialog(main_, 1500ms));
}

TEST_F(InventoryMenuTest, DisableShowsTheDeviceInstallersAnswer) {
  RightClick(kDeviceRow);
  ASSERT_TRUE(WaitForPopup());
  CloseMenu();
  main_.PostCommand(kDisableCommand);

  Window box = program_.WaitForOtherDialog(main_);
  ASSERT_TRUE(box) << "the Disable command showed no box";
  const DialogView view = ViewDialog(box);
  ASSERT_FALSE(view.texts.empty());
  const std::wstring& text = view.texts.back();
  // Wine's device installer cannot change a device's state; a real one may well succeed.
  bool known = text == L"Dislabe OK";
  for (const std::wstring prefix :
       {L"SetupDiSetClassInstallParams(): ", L"SetupDiClassInstaller(): "}) {
    if (text.size() > prefix.size() && text.compare(0, prefix.size(), prefix) == 0) known = true;
  }
  EXPECT_TRUE(known) << Narrow(text);
  SaveScreenshot(L"inventory_disable_answer", box);
  PressButton(box, IDOK);
  EXPECT_TRUE(WaitFor([&] { return !box; }));
  // The tree is the platform's business from here on: the command does not touch it.
  EXPECT_EQ(Rows(tree_).size(), 3u);
}

TEST_F(InventoryMenuTest, ATargetThatWasRemovedMeanwhileIsNotDisabled) {
  RightClick(kDeviceRow);
  ASSERT_TRUE(WaitForPopup());
  // The device goes while its menu is open; the window handles the event inside the menu loop.
  main_.SendDeviceInterfaceChange(DBT_DEVICEREMOVECOMPLETE, device_.name, kHidInterfaceClass);
  CloseMenu();
  main_.PostCommand(kDisableCommand);

  EXPECT_FALSE(program_.WaitForOtherDialog(main_, 1500ms));
  EXPECT_TRUE(program_.IsRunning());
  EXPECT_EQ(Rows(tree_).size(), 1u);
}

}  // namespace
}  // namespace obrint::gui::inventory
