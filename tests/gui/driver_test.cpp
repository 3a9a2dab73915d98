// The driver against its own fixture program: each capability that the GUI tests rely on is
// shown to work across processes under this platform before the tests of the program use it.
#include "driver.h"

#include <dbt.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace obrint::gui {
namespace {

// The HID device interface class.
constexpr GUID kHidInterface = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

class DriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = program_.WaitForMainWindow();
    ASSERT_TRUE(window_) << "the fixture's window did not appear";
  }
  // The fixture writes what it received into its edit control.
  std::wstring WaitForLog(const std::wstring& prefix) {
    return WaitFor([&]() -> std::wstring {
      std::wstring text = window_.ChildText(1001);
      return text.rfind(prefix, 0) == 0 ? text : std::wstring();
    });
  }

  Program program_{FixturePath()};
  Window window_;
};

TEST_F(DriverTest, ReadsCaptionTextsAndButtonStates) {
  EXPECT_EQ(window_.Text(), L"驱动测试窗口");
  EXPECT_EQ(window_.ChildText(1002), L"消息框");
  EXPECT_TRUE(window_.Child(1004).IsChecked());
  EXPECT_FALSE(window_.Child(1002).IsChecked());
  EXPECT_TRUE(window_.Child(1002).IsEnabled());
  EXPECT_FALSE(window_.Child(1005).IsEnabled());
  ASSERT_EQ(window_.Children().size(), 6u);
  EXPECT_EQ(window_.Children()[0].Id(), 1000);
  EXPECT_EQ(window_.Children()[5].Id(), 1005);
}

TEST_F(DriverTest, ReadsTreeItemsWithTheirNestingAndExpandedState) {
  const auto roots = window_.Child(1000).TreeItems();
  ASSERT_EQ(roots.size(), 1u);
  EXPECT_EQ(roots[0].text, L"根");
  EXPECT_TRUE(roots[0].expanded);
  ASSERT_EQ(roots[0].children.size(), 2u);
  const TreeItem& first = roots[0].children[0];
  const TreeItem& second = roots[0].children[1];
  EXPECT_EQ(first.text, L"甲");
  EXPECT_TRUE(first.expanded);
  ASSERT_EQ(first.children.size(), 1u);
  EXPECT_EQ(first.children[0].text, L"甲一");
  EXPECT_EQ(second.text, L"乙");
  EXPECT_FALSE(second.expanded);
  ASSERT_EQ(second.children.size(), 1u);
  EXPECT_EQ(second.children[0].text, L"乙一");
}

TEST_F(DriverTest, ReadsTheSystemMenuAndSendsItsCommand) {
  const auto items = program_.SystemMenu(window_);
  ASSERT_GE(items.size(), 2u);
  EXPECT_TRUE(items[items.size() - 2].IsSeparator());
  EXPECT_EQ(items.back().text, L"&Fixture entry");
  EXPECT_EQ(items.back().id, 0x20u);

  window_.PostSysCommand(0x20);
  EXPECT_EQ(WaitForLog(L"fixture"), L"fixture entry");
}

TEST_F(DriverTest, DeviceInterfaceRecordReachesTheWindowWhole) {
  const std::wstring path =
      L"\\\\?\\HID#VID_2833&PID_0021#7&1a2b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
  window_.SendDeviceInterfaceChange(DBT_DEVICEARRIVAL, path, kHidInterface);
  const size_t size =
      offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + (path.size() + 1) * sizeof(wchar_t);
  EXPECT_EQ(window_.ChildText(1001), L"device " + std::to_wstring(DBT_DEVICEARRIVAL) + L" " +
                                         std::to_wstring(size) +
                                         L" {4D1E55B2-F16F-11CF-88CB-001111000030} " + path);
}

TEST_F(DriverTest, DeviceChangeFromAThreadLeavesTheTestFreeToAnswerItsBox) {
  auto answer =
      window_.SendDeviceInterfaceChangeAsync(DBT_DEVICEQUERYREMOVE, L"\\\\?\\X", kHidInterface);
  const Window box = program_.WaitForDialog(L"设备", kTimeout, window_);
  ASSERT_TRUE(box) << "the event's box did not open";
  EXPECT_TRUE(ViewDialog(box).HasText(L"允许移除？"));
  PressButton(box, IDNO);
  EXPECT_EQ(answer.get(), IDNO);
}

TEST_F(DriverTest, FindsAMessageBoxAndPressesItsButton) {
  window_.ClickButton(1002);
  const Window box = program_.WaitForOtherDialog(window_);
  ASSERT_TRUE(box);
  const DialogView view = ViewDialog(box);
  EXPECT_EQ(view.caption, L"标题");
  EXPECT_TRUE(view.HasText(L"正文"));
  std::vector<int> ids;
  for (const auto& b : view.buttons) ids.push_back(b.id);
  EXPECT_EQ(ids, (std::vector<int>{IDYES, IDNO}));
  EXPECT_EQ(program_.WaitForDialog(L"标题", kTimeout, window_).hwnd(), box.hwnd());

  PressButton(box, IDNO);
  EXPECT_EQ(WaitForLog(L"box"), L"box " + std::to_wstring(IDNO));
  EXPECT_TRUE(WaitFor([&] { return !box; })) << "the box stayed open";
}

TEST_F(DriverTest, TypesAPathIntoTheOpenFileDialog) {
  wchar_t folder[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, folder);
  const std::wstring path = std::wstring(folder) + L"obrint-driver-test.bin";
  { std::ofstream(path.c_str(), std::ios::binary) << "image"; }

  window_.ClickButton(1003);
  const Window dialog = program_.WaitForFileDialog();
  ASSERT_TRUE(dialog);
  Program::ChooseFile(dialog, path);
  EXPECT_EQ(WaitForLog(L"open"), L"open " + path);
  DeleteFileW(path.c_str());
}

TEST_F(DriverTest, EscapeAndEnterReachTheDialogAsKeys) {
  window_.FocusChild(1000);
  EXPECT_EQ(window_.FocusedControl().hwnd(), window_.Child(1000).hwnd());
  window_.Child(1000).PressKey(VK_RETURN);
  ASSERT_TRUE(program_.WaitForExit());
  EXPECT_EQ(program_.ExitCode(), static_cast<DWORD>(IDOK));

  Program again(FixturePath());
  const Window second = again.WaitForMainWindow();
  ASSERT_TRUE(second);
  second.PressKey(VK_ESCAPE);
  ASSERT_TRUE(again.WaitForExit());
  EXPECT_EQ(again.ExitCode(), static_cast<DWORD>(IDCANCEL));
}

TEST_F(DriverTest, ScreenshotHoldsTheWindowsPixels) {
  const std::wstring file = SaveScreenshot(L"driver-fixture", window_);
  ASSERT_FALSE(file.empty());
  std::ifstream in(file.c_str(), std::ios::binary);
  BITMAPFILEHEADER header{};
  BITMAPINFOHEADER info{};
  in.read(reinterpret_cast<char*>(&header), sizeof header);
  in.read(reinterpret_cast<char*>(&info), sizeof info);
  ASSERT_TRUE(in);
  const RECT r = window_.Rect();
  EXPECT_EQ(header.bfType, 0x4D42);
  EXPECT_EQ(info.biWidth, r.right - r.left);
  EXPECT_EQ(info.biHeight, r.bottom - r.top);
  // A drawn window has more than one colour: face, text, borders.
  const std::string pixels((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GE(pixels.size(), 6u);
  bool differs = false;
  for (size_t i = 3; i + 3 <= pixels.size() && !differs; i += 3)
    differs = pixels.compare(i, 3, pixels, 0, 3) != 0;
  EXPECT_TRUE(differs) << "the screenshot is one flat colour";
}

TEST(ProgramTest, EndsItsProcessWhenItGoesOutOfScope) {
  HANDLE process = nullptr;
  {
    Program program(FixturePath());
    ASSERT_TRUE(program.WaitForMainWindow());
    process = OpenProcess(SYNCHRONIZE, FALSE, program.Id());
    ASSERT_NE(process, nullptr);
  }
  EXPECT_EQ(WaitForSingleObject(process, 0), WAIT_OBJECT_0);
  CloseHandle(process);
}

TEST(ProgramTest, ReportsAProgramThatCannotStart) {
  EXPECT_THROW(Program(L"Z:\\no\\such\\program.exe"), std::runtime_error);
}

TEST(PathTest, UnixPathsBecomeDriveZPaths) {
  EXPECT_EQ(ToWindowsPath(L"/work/build/Obrint.exe"), L"Z:\\work\\build\\Obrint.exe");
  EXPECT_EQ(ToWindowsPath(L"C:\\x\\y.bin"), L"C:\\x\\y.bin");
}

}  // namespace
}  // namespace obrint::gui
