// GUI test driver: starts Obrint.exe (or another program) as a separate process and reads and
// operates its windows from outside, the way a user would see and use them.
//
// Everything works across processes: texts through WM_GETTEXT, tree items through memory
// allocated in the target, commands and keys as posted messages, the system menu through a small
// hook DLL (obrint_gui_agent.dll) that the driver loads into the target, and screenshots from the
// screen itself, taken once the window's own thread has painted it.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace obrint::gui {

using Millis = std::chrono::milliseconds;
inline constexpr Millis kTimeout{20000};  // generous: a loaded machine starts Wine slowly

// A path as Windows sees it: a Unix path ("/x/y") becomes "Z:\x\y" (Wine's root drive).
std::wstring ToWindowsPath(const std::wstring& path);
std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& text);  // UTF-8, for test messages

// The program under test: $OBRINT_EXE, else the Obrint.exe of this build.
std::wstring ProgramPath();
// The test fixture program built beside the tests.
std::wstring FixturePath();
// Where screenshots go: $OBRINT_SCREENSHOTS, else build/screenshots of this build. Created on use.
std::wstring ScreenshotDir();

// Whether a probe's result counts as found: a true bool, a valid Window, a non-empty optional,
// container or string.
template <typename T>
bool IsFound(const T& result) {
  if constexpr (requires { result.empty(); }) {
    return !result.empty();
  } else {
    return static_cast<bool>(result);
  }
}

// Polls `probe` until its result is found or the timeout passes; returns the last result.
template <typename Probe>
auto WaitFor(Probe probe, Millis timeout = kTimeout) -> decltype(probe()) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    auto result = probe();
    if (IsFound(result) || std::chrono::steady_clock::now() >= end) return result;
    std::this_thread::sleep_for(Millis(50));
  }
}

struct TreeItem {
  std::wstring text;
  bool expanded = false;
  std::vector<TreeItem> children;
};

struct MenuItem {
  UINT id = 0;
  UINT type = 0;   // MFT_* flags: MFT_SEPARATOR for a separator
  UINT state = 0;  // MFS_* flags
  std::wstring text;
  bool IsSeparator() const { return (type & MFT_SEPARATOR) != 0; }
};

// A window of any process; holds no resource. All queries are safe on a window that has gone.
class Window {
 public:
  Window() = default;
  explicit Window(HWND hwnd) : hwnd_(hwnd) {}

  HWND hwnd() const { return hwnd_; }
  explicit operator bool() const { return hwnd_ != nullptr && IsWindow(hwnd_); }

  std::wstring Text() const;  // caption of a window, text of a control
  std::wstring ClassName() const;
  int Id() const;
  DWORD ProcessId() const;
  DWORD ThreadId() const;
  bool IsEnabled() const;
  bool IsVisible() const;
  bool IsChecked() const;  // BM_GETCHECK == BST_CHECKED
  RECT Rect() const;       // screen coordinates
  LONG Style() const;

  Window Child(int id) const;
  std::vector<Window> Children() const;  // direct children, in creation (tab) order
  std::wstring ChildText(int id) const { return Child(id).Text(); }

  // Items of a SysTreeView32 window, as a forest from the root items down.
  std::vector<TreeItem> TreeItems() const;

  // Input, all posted so that a handler that opens a modal window never blocks the test.
  void ClickButton(int id) const;                    // WM_COMMAND BN_CLICKED from child `id`
  void PostCommand(WORD id) const;                   // WM_COMMAND as from a menu
  void PostSysCommand(WPARAM command) const;         // WM_SYSCOMMAND, e.g. SC_CLOSE
  void PressKey(UINT vk) const;                      // WM_KEYDOWN + WM_KEYUP to this window
  void FocusChild(int id) const;                     // dialog focus to child `id` (WM_NEXTDLGCTL)
  Window FocusedControl() const;                     // the focus in this window's thread
  LRESULT Send(UINT msg, WPARAM w, LPARAM l) const;  // with a timeout; 0 when it hangs
  bool Settle() const;  // true once the window's thread has handled everything sent before

  // Sends WM_DEVICECHANGE with a DEV_BROADCAST_DEVICEINTERFACE_W record naming `path`; returns
  // the window's answer. `event` is DBT_DEVICEARRIVAL or DBT_DEVICEREMOVECOMPLETE.
  LRESULT SendDeviceInterfaceChange(WPARAM event, const std::wstring& path,
                                    const GUID& interfaceClass) const;
  // The same from a thread of its own, for an event whose handling opens a message box: find
  // and answer the box, then get() the window's answer.
  std::future<LRESULT> SendDeviceInterfaceChangeAsync(WPARAM event, std::wstring path,
                                                      GUID interfaceClass) const;

 private:
  HWND hwnd_ = nullptr;
};

// A message box or dialog as the user sees it.
struct DialogView {
  Window window;
  std::wstring caption;
  std::vector<std::wstring> texts;  // static texts, in order, empty ones left out
  struct Button {
    int id;
    std::wstring text;
  };
  std::vector<Button> buttons;
  bool HasText(const std::wstring& text) const;
};
DialogView ViewDialog(Window dialog);
// Presses a dialog's button by ID (posted BN_CLICKED, as a mouse click would send).
void PressButton(Window dialog, int id);

// The items of `window`'s system menu, read inside its program by the hook DLL.
std::vector<MenuItem> SystemMenuItems(Window window);
// Has the window's own thread paint everything of it that waits to be painted.
void PaintNow(Window window);
// Asks the hook DLL inside the window's program one of the questions of agent_protocol.h and
// returns the answer's text. Throws std::runtime_error when the program does not answer.
std::wstring AskAgent(Window window, WPARAM query);

// Writes a 24-bit BMP of the screen area (a window's rectangle, or the whole screen) into the
// screenshot folder as `name`.bmp; returns the file's path, empty on failure.
std::wstring SaveScreenshot(const std::wstring& name, std::optional<RECT> area = std::nullopt);
std::wstring SaveScreenshot(const std::wstring& name, Window window);

// A started program. The destructor kills it if it still runs, so no test leaves one behind.
class Program {
 public:
  // Starts `exe` with `arguments` in the exe's folder. Throws std::runtime_error when it cannot.
  explicit Program(const std::wstring& exe = ProgramPath(), const std::wstring& arguments = {});
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  DWORD Id() const { return pid_; }
  bool IsRunning() const;
  // Waits for the process to end; true if it did within the timeout.
  bool WaitForExit(Millis timeout = kTimeout) const;
  std::optional<DWORD> ExitCode() const;  // once it has ended
  void Kill();

  // The program's visible top-level windows.
  std::vector<Window> TopLevelWindows() const;
  // Obrint's Main window: a dialog of this process holding the Device tree (control 1000).
  Window WaitForMainWindow(Millis timeout = kTimeout) const;
  // A visible dialog (class #32770) of this process whose caption is `caption`; a message box is
  // one. With `except`, that window does not count.
  Window WaitForDialog(const std::wstring& caption, Millis timeout = kTimeout,
                       Window except = {}) const;
  // Any visible dialog of this process other than `except` (e.g. the Main window).
  Window WaitForOtherDialog(Window except, Millis timeout = kTimeout) const;
  // The open-file dialog: a dialog of this process with a file-name field.
  Window WaitForFileDialog(Millis timeout = kTimeout) const;
  // Types `path` into the open-file dialog's file-name field and presses its Open button.
  static void ChooseFile(Window fileDialog, const std::wstring& path);

  // The items of `window`'s system menu (SystemMenuItems).
  std::vector<MenuItem> SystemMenu(Window window) const;

 private:
  template <typename Probe>
  Window WaitWhileRunning(Probe probe, Millis timeout) const;

  HANDLE process_ = nullptr;
  DWORD pid_ = 0;
};

}  // namespace obrint::gui
