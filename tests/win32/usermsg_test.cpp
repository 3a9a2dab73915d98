// The user-message operations against the real system: error texts from FormatMessage, the
// Status log in an edit control, the message boxes, diagnostic output, and the UTF-8 edge.
#include "usermsg.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "dlgkit/dlgkit.h"
#include "win/text.h"

namespace obrint::win {
namespace {

// What the system itself says for a code, line break included; empty when it has nothing.
std::wstring RawSystemText(DWORD code) {
  wchar_t* raw = nullptr;
  ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPWSTR>(&raw), 0,
      nullptr);
  if (raw == nullptr) return {};
  std::wstring text(raw);
  ::LocalFree(raw);
  return text;
}

TEST(SystemErrorText, KnownCodesGiveTheSystemSentenceWithoutItsLineBreak) {
  for (DWORD code : {ERROR_ACCESS_DENIED, ERROR_INVALID_DATA, ERROR_PROC_NOT_FOUND,
                     ERROR_GEN_FAILURE, ERROR_INVALID_FUNCTION}) {
    SCOPED_TRACE(code);
    const std::wstring raw = RawSystemText(code);
    ASSERT_GT(raw.size(), 2u);
    ASSERT_EQ(raw.back(), L'\n');
    const std::wstring text = Widen(SystemErrorText(code));
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.back(), L'\n');
    EXPECT_NE(text.back(), L'\r');
    // Exactly the final CR LF (or LF) is gone; the sentence itself is untouched.
    const std::wstring removed = raw.substr(text.size());
    EXPECT_EQ(raw.compare(0, text.size(), text), 0);
    EXPECT_TRUE(removed == L"\r\n" || removed == L"\n") << Narrow(removed);
  }
}

TEST(SystemErrorText, TheTextIsTheSameOnEveryRequest) {
  EXPECT_EQ(SystemErrorText(ERROR_ACCESS_DENIED), SystemErrorText(ERROR_ACCESS_DENIED));
}

TEST(SystemErrorText, CodesWithoutSystemTextGetTheFallbacks) {
  struct Case {
    DWORD code;
    const char* expected;
  };
  const Case cases[] = {
      {0xE000020E, "Unknown error 0xE000020E"},  // a device installer code
      {0x23, "Unknown error 0x23"},              // small code: no leading zeros
      {0x80040200, "Unknown error 0x80040200"},  // the dispatch range starts after it
      {0x80040201, "IDispatch error #1"},
      {0x8004FFFF, "IDispatch error #65023"},
      {0x80050000, "Unknown error 0x80050000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    ASSERT_TRUE(RawSystemText(c.code).empty()) << "the system has a text for this code";
    EXPECT_EQ(SystemErrorText(c.code), c.expected);
  }
}

// A multi-line edit control like the Status log, on a hidden top-level window.
class StatusLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_edit = ::CreateWindowExW(
        0, L"EDIT", L"",
        WS_POPUP | ES_MULTILINE | ES_AUTOHSCROLL | ES_READONLY | ES_WANTRETURN | WS_VSCROLL, 0, 0,
        300, 100, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(m_edit, nullptr);
  }
  void TearDown() override { ::DestroyWindow(m_edit); }

  std::wstring Content() const {
    std::vector<wchar_t> text(static_cast<std::size_t>(::GetWindowTextLengthW(m_edit)) + 1);
    ::SendMessageW(m_edit, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    return text.data();
  }

  HWND m_edit = nullptr;
};

TEST_F(StatusLogTest, ShowStatusReplacesTheWholeLog) {
  ShowStatus(m_edit, "\r\n");
  EXPECT_EQ(Content(), L"\r\n");
  ShowStatus(m_edit, "版本信息 0025:04030201080706050C0B0A09\r\n");
  EXPECT_EQ(Content(), L"\u7248\u672c\u4fe1\u606f 0025:04030201080706050C0B0A09\r\n");
  ShowStatus(m_edit, "");
  EXPECT_EQ(Content(), L"");
}

TEST_F(StatusLogTest, AppendStatusAddsLinesUntilTheNextShowStatus) {
  AppendStatus(m_edit, "设备链接 HID\\VID_2833&PID_0021\\7&1A2B3C&0&0000\r\n");
  AppendStatus(m_edit, "设备断开 HID\\VID_046D&PID_C077\\6&2B&0&0000\r\n");
  EXPECT_EQ(Content(),
            L"\u8bbe\u5907\u94fe\u63a5 HID\\VID_2833&PID_0021\\7&1A2B3C&0&0000\r\n"
            L"\u8bbe\u5907\u65ad\u5f00 HID\\VID_046D&PID_C077\\6&2B&0&0000\r\n");
  ShowStatus(m_edit, "\r\n");
  EXPECT_EQ(Content(), L"\r\n");
  AppendStatus(m_edit, "50% done\r\n");
  EXPECT_EQ(Content(), L"\r\n50% done\r\n");
}

// Answers the next message box of this thread with a button, and records what it showed. The
// box's own modal loop runs the timer.
class MessageBoxWatcher {
 public:
  explicit MessageBoxWatcher(int answer) : m_answer(answer) {
    s_current = this;
    m_timer = ::SetTimer(nullptr, 0, 20, &MessageBoxWatcher::Tick);
  }
  ~MessageBoxWatcher() {
    ::KillTimer(nullptr, m_timer);
    s_current = nullptr;
  }
  MessageBoxWatcher(const MessageBoxWatcher&) = delete;
  MessageBoxWatcher& operator=(const MessageBoxWatcher&) = delete;

  bool seen = false;
  std::wstring caption;
  std::wstring text;
  HWND owner = nullptr;

 private:
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    if (s_current != nullptr && !s_current->seen) {
      ::EnumThreadWindows(::GetCurrentThreadId(), &MessageBoxWatcher::Visit, 0);
    }
  }

  static BOOL CALLBACK Visit(HWND window, LPARAM) {
    wchar_t className[16] = {};
    ::GetClassNameW(window, className, 16);
    if (std::wstring(className) != L"#32770" || !::IsWindowVisible(window)) return TRUE;
    MessageBoxWatcher& self = *s_current;
    wchar_t buffer[512] = {};
    ::GetWindowTextW(window, buffer, 512);
    self.caption = buffer;
    buffer[0] = L'\0';
    ::GetDlgItemTextW(window, 0xFFFF, buffer, 512);  // the box's message text
    self.text = buffer;
    self.owner = ::GetWindow(window, GW_OWNER);
    self.seen = true;
    ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(self.m_answer, BN_CLICKED), 0);
    return FALSE;
  }

  static inline MessageBoxWatcher* s_current = nullptr;
  int m_answer;
  UINT_PTR m_timer = 0;
};

TEST(MessageBoxes, ErrorBoxShowsPrefixAndSystemTextUnderTheApplicationTitle) {
  MessageBoxWatcher watcher(IDOK);
  ShowErrorBox("SetupDiGetClassDevs(): ", ERROR_ACCESS_DENIED);
  ASSERT_TRUE(watcher.seen);
  EXPECT_EQ(watcher.caption, L"usermsg_test");
  EXPECT_EQ(watcher.caption, dlgkit::ApplicationTitle());
  EXPECT_EQ(watcher.text, L"SetupDiGetClassDevs(): " + Widen(SystemErrorText(ERROR_ACCESS_DENIED)));
  EXPECT_NE(watcher.text.back(), L'\n');
}

TEST(MessageBoxes, ErrorBoxWithoutSystemTextUsesTheFallback) {
  MessageBoxWatcher watcher(IDOK);
  ShowErrorBox("SetupDiClassInstaller(): ", 0xE000020E);
  ASSERT_TRUE(watcher.seen);
  EXPECT_EQ(watcher.text, L"SetupDiClassInstaller(): Unknown error 0xE000020E");
}

TEST(MessageBoxes, PlainBoxShowsTheTextAlone) {
  MessageBoxWatcher watcher(IDOK);
  ShowPlainBox("Dislabe OK");
  ASSERT_TRUE(watcher.seen);
  EXPECT_EQ(watcher.caption, L"usermsg_test");
  EXPECT_EQ(watcher.text, L"Dislabe OK");
}

TEST(MessageBoxes, WindowBoxUsesBodyAndCaptionAndReturnsTheAnswer) {
  HWND owner = ::CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                 ::GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(owner, nullptr);
  {
    MessageBoxWatcher watcher(IDYES);
    EXPECT_EQ(ShowWindowBox(owner, "Update", "Reboot?", MB_YESNO), IDYES);
    ASSERT_TRUE(watcher.seen);
    EXPECT_EQ(watcher.text, L"Update");
    EXPECT_EQ(watcher.caption, L"Reboot?");
    EXPECT_EQ(watcher.owner, owner);
  }
  {
    MessageBoxWatcher watcher(IDNO);
    EXPECT_EQ(ShowWindowBox(owner, "Update", "Reboot?", MB_YESNO), IDNO);
  }
  {
    MessageBoxWatcher watcher(IDOK);
    EXPECT_EQ(ShowWindowBox(owner, "Mode", "模式切换失败！", MB_OK), IDOK);
    EXPECT_EQ(watcher.caption, L"\u6a21\u5f0f\u5207\u6362\u5931\u8d25\uff01");
  }
  ::DestroyWindow(owner);
}

// Collects what OutputDebugString sends while no debugger is attached: it raises a printing
// exception that a vectored handler sees first.
class DebugOutputCapture {
 public:
  DebugOutputCapture() {
    s_lines.clear();
    m_handler = ::AddVectoredExceptionHandler(1, &DebugOutputCapture::Handler);
  }
  ~DebugOutputCapture() { ::RemoveVectoredExceptionHandler(m_handler); }
  DebugOutputCapture(const DebugOutputCapture&) = delete;
  DebugOutputCapture& operator=(const DebugOutputCapture&) = delete;

  static std::string All() {
    std::string all;
    for (const std::string& line : s_lines) all += line;
    return all;
  }

 private:
  static LONG CALLBACK Handler(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD& record = *info->ExceptionRecord;
    if (record.NumberParameters >= 2) {
      const auto* text = reinterpret_cast<const void*>(record.ExceptionInformation[1]);
      if (record.ExceptionCode == 0x4001000A) {  // DBG_PRINTEXCEPTION_WIDE_C
        s_lines.push_back(Narrow(static_cast<const wchar_t*>(text)));
      } else if (record.ExceptionCode == 0x40010006) {  // DBG_PRINTEXCEPTION_C
        s_lines.emplace_back(static_cast<const char*>(text));
      }
    }
    return EXCEPTION_CONTINUE_SEARCH;
  }

  static inline std::vector<std::string> s_lines;
  PVOID m_handler = nullptr;
};

TEST(DebugTrace, AFinishedTextIsPrintedUnchanged) {
  DebugOutputCapture capture;
  DebugTrace("SetupDiGetDeviceInstanceId(): %s %n %d 100% sure");
  const std::string output = DebugOutputCapture::All();
  if (output.empty()) GTEST_SKIP() << "debug output cannot be observed here";
  EXPECT_NE(output.find("SetupDiGetDeviceInstanceId(): %s %n %d 100% sure"), std::string::npos)
      << output;
  EXPECT_NE(output.find("usermsg_test.cpp"), std::string::npos) << output;
}

TEST(DebugTrace, AFormatIsFilledIn) {
  DebugOutputCapture capture;
  OBRINT_TRACE("Can't get class image index: %s", "Unknown error 0xE000020E");
  const std::string output = DebugOutputCapture::All();
  if (output.empty()) GTEST_SKIP() << "debug output cannot be observed here";
  EXPECT_NE(output.find("Can't get class image index: Unknown error 0xE000020E"), std::string::npos)
      << output;
}

TEST(WinText, ChineseRoundTripsThroughUtf16) {
  const std::string utf8 = "VR设备控制端";
  EXPECT_EQ(Widen(utf8), L"VR\u8bbe\u5907\u63a7\u5236\u7aef");
  EXPECT_EQ(Narrow(Widen(utf8)), utf8);
  EXPECT_EQ(Widen(""), L"");
  EXPECT_EQ(Narrow(L""), "");
  // A stray byte does not swallow the text around it.
  EXPECT_EQ(Widen("a\xFF"
                  "b"),
            L"a\uFFFDb");
}

}  // namespace
}  // namespace obrint::win
