// The Main window's system menu and the About box behind it.
#include <gtest/gtest.h>

#include "driver.h"

namespace obrint::gui {
namespace {

constexpr UINT kAboutCommand = 0x0010;

class SystemMenuTest : public ::testing::Test {
 protected:
  void SetUp() override {
    main_ = program_.WaitForMainWindow();
    ASSERT_TRUE(main_) << "Obrint's Main window did not appear";
  }
  Program program_;
  Window main_;
};

TEST_F(SystemMenuTest, EndsWithASeparatorAndTheAboutEntry) {
  const auto items = program_.SystemMenu(main_);
  ASSERT_GE(items.size(), 2u);
  EXPECT_TRUE(items[items.size() - 2].IsSeparator());
  EXPECT_EQ(items.back().text, L"&About Kestic...");
  EXPECT_EQ(items.back().id, kAboutCommand);
  EXPECT_FALSE(items.back().IsSeparator());
}

TEST_F(SystemMenuTest, AboutEntryOpensTheAboutBoxOverTheMainWindow) {
  main_.PostSysCommand(kAboutCommand);
  const Window about = program_.WaitForDialog(L"About Obrint", kTimeout, main_);
  ASSERT_TRUE(about) << "no About box";
  const DialogView view = ViewDialog(about);
  EXPECT_TRUE(view.HasText(L"Obrint Version 1.0"));
  ASSERT_EQ(view.buttons.size(), 1u);
  EXPECT_EQ(view.buttons[0].id, IDOK);
  EXPECT_EQ(view.buttons[0].text, L"OK");
  EXPECT_FALSE(main_.IsEnabled()) << "the About box should be modal to the Main window";
  EXPECT_FALSE(SaveScreenshot(L"about-box", about).empty());

  PressButton(about, IDOK);
  EXPECT_TRUE(WaitFor([&] { return !about; })) << "the About box stayed open";
  EXPECT_TRUE(WaitFor([&] { return main_.IsEnabled(); }));
  EXPECT_TRUE(program_.IsRunning());
}

TEST_F(SystemMenuTest, EscapeClosesTheAboutBoxOnly) {
  main_.PostSysCommand(kAboutCommand);
  const Window about = program_.WaitForDialog(L"About Obrint", kTimeout, main_);
  ASSERT_TRUE(about);
  about.PressKey(VK_ESCAPE);
  EXPECT_TRUE(WaitFor([&] { return !about; })) << "Esc left the About box open";
  EXPECT_TRUE(main_.Settle());
  EXPECT_TRUE(program_.IsRunning());
}

}  // namespace
}  // namespace obrint::gui
