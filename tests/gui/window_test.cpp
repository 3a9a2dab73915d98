// Obrint's Main window as the user first sees it, its About box, and the keys that end it.
#include "gui_support.h"

namespace obrint::gui {
namespace {

using WindowTest = ObrintTest;

TEST_F(WindowTest, StartsWithItsTextsTheModeControlsOffAndTheComputerAlone) {
  EXPECT_EQ(main_.Text(), L"VR设备控制端");
  std::vector<std::wstring> texts;  // controls 1001 to 1008
  for (int id = kLog; id <= kDk1; ++id) texts.push_back(main_.ChildText(id));
  EXPECT_EQ(texts,
            (std::vector<std::wstring>{L"", L"升级固件程序", L"下载引导固件", L"获取设备信息",
                                       L"校验固件程序", L"设置运行模式", L"DK2兼容", L"DK1兼容"}));
  for (const int id : {kUpgrade, kBootFirmware, kDeviceInfo, kVerify}) {
    EXPECT_TRUE(main_.Child(id).IsEnabled()) << "control " << id;
  }
  EXPECT_EQ(Mode(), kModeOff);
  wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  GetComputerNameW(computer, &size);
  EXPECT_EQ(main_.Child(kTree).TreeRows(), (std::vector<TreeRow>{{0, computer, false}}));
  SaveScreenshot(L"main-window", main_);
}

TEST_F(WindowTest, TheSystemMenusLastEntryOpensTheModalAboutBox) {
  main_.Post(WM_SYSCOMMAND, SC_KEYMENU, L' ');
  const Window menu = program_->WaitForWindow(IsPopupMenu);
  ASSERT_TRUE(menu) << "the system menu did not open";
  main_.PressKey(VK_UP);  // from the first entry round to the last
  main_.PressKey(VK_RETURN);
  const Window about = Box(L"About Obrint", kTimeout);
  ASSERT_TRUE(about) << "no About box";
  EXPECT_TRUE(Shows(about, L"Obrint Version 1.0"));
  EXPECT_EQ(about.ChildText(IDOK), L"OK");
  EXPECT_FALSE(main_.IsEnabled()) << "the About box is not modal";
  SaveScreenshot(L"about-box", about);
  about.PressKey(VK_ESCAPE);
  EXPECT_TRUE(WaitFor([&] { return !about && main_.IsEnabled(); }));
  EXPECT_TRUE(program_->IsRunning()) << "Esc in the About box ended the program";
}

// A key on a control (0: the Main window itself), or with no key the system menu's Close.
struct EndCase {
  int control;
  UINT key;
  bool ends;
};

class WindowEndTest : public ObrintTest, public ::testing::WithParamInterface<EndCase> {};

TEST_P(WindowEndTest, EndsTheProgramOrNot) {
  const auto [control, key, ends] = GetParam();
  if (key == 0) main_.Post(WM_SYSCOMMAND, SC_CLOSE, 0);
  if (key != 0) (control ? main_.Child(control) : main_).PressKey(key);
  EXPECT_EQ(program_->WaitForExit(ends ? kTimeout : Millis(1000)), ends);
  EXPECT_EQ(Log(), L"") << "the read-only log took the key as text";
}

INSTANTIATE_TEST_SUITE_P(Keys, WindowEndTest,
                         ::testing::Values(EndCase{0, VK_ESCAPE, true}, EndCase{0, 0, true},
                                           EndCase{kTree, VK_RETURN, true},
                                           EndCase{kLog, VK_RETURN, false}));

}  // namespace
}  // namespace obrint::gui
