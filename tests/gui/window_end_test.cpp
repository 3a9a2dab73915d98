// The ways the user ends the program, and the key that must not end it.
#include <gtest/gtest.h>

#include "driver.h"

namespace obrint::gui {
namespace {

class WindowEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    main_ = program_.WaitForMainWindow();
    ASSERT_TRUE(main_) << "Obrint's Main window did not appear";
  }
  Program program_;
  Window main_;
};

TEST_F(WindowEndTest, EscapeEndsTheProgram) {
  const Window focus = main_.FocusedControl();
  (focus ? focus : main_).PressKey(VK_ESCAPE);
  EXPECT_TRUE(program_.WaitForExit()) << "Esc did not end the program";
}

TEST_F(WindowEndTest, EnterOnTheDeviceTreeEndsTheProgram) {
  main_.FocusChild(1000);
  ASSERT_EQ(main_.FocusedControl().hwnd(), main_.Child(1000).hwnd());
  main_.Child(1000).PressKey(VK_RETURN);
  EXPECT_TRUE(program_.WaitForExit()) << "Enter on the Device tree did not end the program";
}

TEST_F(WindowEndTest, EnterInTheStatusLogKeepsTheProgramRunning) {
  main_.FocusChild(1001);
  ASSERT_EQ(main_.FocusedControl().hwnd(), main_.Child(1001).hwnd());
  main_.Child(1001).PressKey(VK_RETURN);
  EXPECT_FALSE(program_.WaitForExit(Millis(1000)));
  EXPECT_EQ(main_.ChildText(1001), L"") << "a read-only log took the key as text";
}

TEST_F(WindowEndTest, CloseFromTheSystemMenuEndsTheProgram) {
  main_.PostSysCommand(SC_CLOSE);
  EXPECT_TRUE(program_.WaitForExit()) << "Close did not end the program";
}

}  // namespace
}  // namespace obrint::gui
