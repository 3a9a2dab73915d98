// GUI test driver: starts a program as a separate process and reads and operates its windows from
// outside, as a user would see and use them: texts through WM_GETTEXT, tree items through memory
// allocated in the program, commands and keys as posted messages, pictures from the screen.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace obrint::gui {

using Millis = std::chrono::milliseconds;
inline constexpr Millis kTimeout{20000};  // generous: a loaded machine starts Wine slowly

// Polls `probe` until its result converts to true or the timeout passes; returns the last result.
template <typename Probe>
auto WaitFor(Probe probe, Millis timeout = kTimeout) -> decltype(probe()) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    auto result = probe();
    if (static_cast<bool>(result) || std::chrono::steady_clock::now() >= end) return result;
    std::this_thread::sleep_for(Millis(50));
  }
}

// One item of a tree view, depth first, with its depth (0 for a root item).
struct TreeRow {
  int level;
  std::wstring text;
  bool expanded;
  bool operator==(const TreeRow&) const = default;
};

// A window of any process; holds no resource. All queries are safe on a window that has gone.
class Window {
 public:
  Window() = default;
  explicit Window(HWND hwnd) : hwnd_(hwnd) {}

  HWND hwnd() const { return hwnd_; }
  explicit operator bool() const { return hwnd_ != nullptr && IsWindow(hwnd_); }
  bool operator==(const Window&) const = default;
  std::wstring Text() const;  // caption of a window, text of a control
  bool IsEnabled() const { return IsWindowEnabled(hwnd_) != FALSE; }
  bool IsChecked() const { return Send(BM_GETCHECK, 0, 0) == BST_CHECKED; }
  RECT Rect() const;  // screen coordinates
  Window Child(int id) const { return Window(GetDlgItem(hwnd_, id)); }
  std::wstring ChildText(int id) const { return Child(id).Text(); }
  std::vector<std::wstring> ChildTexts() const;  // of the visible children, empty ones left out
  std::vector<TreeRow> TreeRows() const;

  // Input is posted, so that a handler that opens a modal window never blocks the test.
  void Click(int id) const;  // WM_COMMAND BN_CLICKED from child `id`
  void Post(UINT msg, WPARAM w, LPARAM l) const { PostMessageW(hwnd_, msg, w, l); }
  void PressKey(UINT vk) const;                      // WM_KEYDOWN + WM_KEYUP
  LRESULT Send(UINT msg, WPARAM w, LPARAM l) const;  // with a timeout; 0 when it hangs
  // WM_DEVICECHANGE `event` with a record of the HID interface class naming `path`.
  LRESULT SendHidInterfaceChange(WPARAM event, const std::wstring& path) const;

 private:
  HWND hwnd_ = nullptr;
};

// What WaitForWindow looks for.
bool IsDialog(const Window& w);  // a message box, the open-file dialog, a dialog box
bool IsPopupMenu(const Window& w);

// The window's screen area as `name`.bmp in $OBRINT_SCREENSHOTS (default build/<dir>/screenshots),
// which test-all.sh turns into PNG files.
void SaveScreenshot(const std::wstring& name, Window window);

// A started program, killed by the destructor if it still runs.
class Program {
 public:
  explicit Program(const std::wstring& exe);  // started in its folder; throws when it cannot be
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  bool IsRunning() const { return WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }
  bool WaitForExit(Millis timeout) const {
    return WaitForSingleObject(process_, static_cast<DWORD>(timeout.count())) == WAIT_OBJECT_0;
  }
  // A visible top-level window of the program that `match` accepts; none after the timeout.
  Window WaitForWindow(const std::function<bool(const Window&)>& match,
                       Millis timeout = kTimeout) const;

 private:
  HANDLE process_ = nullptr;
  DWORD pid_ = 0;
};

}  // namespace obrint::gui
