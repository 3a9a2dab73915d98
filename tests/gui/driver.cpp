#include "driver.h"

#include <commctrl.h>
#include <dbt.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <optional>
#include <stdexcept>

#include "win_text.h"

namespace obrint::gui {
namespace {

constexpr UINT kSendTimeoutMs = 5000;
// File dialog fields: the explorer-style file-name combo box, the old-style file-name edit.
constexpr int kFileNameCombo = 0x47C, kFileNameEdit = 0x480;

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error(what + " failed, error " + std::to_string(GetLastError()));
}

bool HasClass(const Window& w, const wchar_t* name) {
  return _wcsicmp(w.ClassName().c_str(), name) == 0;
}

// One tree item read in the program's memory: its text and state.
struct RemoteTreeItem {
  TVITEMW item;
  wchar_t text[512];
};

RemoteTreeItem ReadTreeItem(const Window& tree, HTREEITEM handle) {
  DWORD pid = 0;
  GetWindowThreadProcessId(tree.hwnd(), &pid);
  HANDLE process =
      OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
  if (!process) Fail("OpenProcess");
  auto* remote = static_cast<RemoteTreeItem*>(VirtualAllocEx(
      process, nullptr, sizeof(RemoteTreeItem), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  RemoteTreeItem local{};
  local.item.mask = TVIF_HANDLE | TVIF_TEXT | TVIF_STATE;
  local.item.hItem = handle;
  local.item.stateMask = TVIS_EXPANDED;
  local.item.pszText = remote ? remote->text : nullptr;
  local.item.cchTextMax = static_cast<int>(std::size(local.text));
  const bool ok = remote && WriteProcessMemory(process, remote, &local, sizeof local, nullptr) &&
                  tree.Send(TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(remote)) &&
                  ReadProcessMemory(process, remote, &local, sizeof local, nullptr);
  if (remote) VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  CloseHandle(process);
  if (!ok) Fail("reading a tree item");
  local.text[std::size(local.text) - 1] = L'\0';
  return local;
}

void AddTreeRows(const Window& tree, HTREEITEM first, int level, std::vector<TreeRow>& rows) {
  for (HTREEITEM h = first; h;
       h = reinterpret_cast<HTREEITEM>(tree.Send(TVM_GETNEXTITEM, TVGN_NEXT, LPARAM(h)))) {
    const RemoteTreeItem item = ReadTreeItem(tree, h);
    rows.push_back({level, item.text, (item.item.state & TVIS_EXPANDED) != 0});
    AddTreeRows(tree,
                reinterpret_cast<HTREEITEM>(tree.Send(TVM_GETNEXTITEM, TVGN_CHILD, LPARAM(h))),
                level + 1, rows);
  }
}

// A bottom-up 24-bit picture of the screen area `r`.
BITMAPINFOHEADER PictureHeader(const RECT& r) {
  BITMAPINFOHEADER header{};
  header.biSize = sizeof header;
  header.biWidth = r.right - r.left;
  header.biHeight = r.bottom - r.top;
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  return header;
}

// The screen's pixels in `r`; empty on failure.
std::vector<std::byte> CaptureScreen(const RECT& r) {
  BITMAPINFO info{};
  info.bmiHeader = PictureHeader(r);
  std::vector<std::byte> pixels;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap && bits) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    if (BitBlt(memory, 0, 0, info.bmiHeader.biWidth, info.bmiHeader.biHeight, screen, r.left, r.top,
               SRCCOPY)) {
      GdiFlush();
      const size_t stride = (static_cast<size_t>(info.bmiHeader.biWidth) * 3 + 3) & ~size_t{3};
      const auto* first = static_cast<const std::byte*>(bits);
      pixels.assign(first, first + stride * static_cast<size_t>(info.bmiHeader.biHeight));
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
  }
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return pixels;
}

}  // namespace

std::wstring Window::Text() const {
  const auto length = static_cast<size_t>(Send(WM_GETTEXTLENGTH, 0, 0));
  std::wstring text(length + 1, L'\0');
  text.resize(static_cast<size_t>(Send(WM_GETTEXT, text.size(), LPARAM(text.data()))));
  return text;
}

std::wstring Window::ClassName() const {
  wchar_t name[256] = {};
  GetClassNameW(hwnd_, name, static_cast<int>(std::size(name)));
  return name;
}

RECT Window::Rect() const {
  RECT r{};
  GetWindowRect(hwnd_, &r);
  return r;
}

Window Window::FocusedControl() const {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  GetGUIThreadInfo(GetWindowThreadProcessId(hwnd_, nullptr), &info);
  return Window(info.hwndFocus);
}

std::vector<TreeRow> Window::TreeRows() const {
  std::vector<TreeRow> rows;
  AddTreeRows(*this, reinterpret_cast<HTREEITEM>(Send(TVM_GETNEXTITEM, TVGN_ROOT, 0)), 0, rows);
  return rows;
}

std::wstring Window::TreeSelection() const {
  const auto item = reinterpret_cast<HTREEITEM>(Send(TVM_GETNEXTITEM, TVGN_CARET, 0));
  return item ? ReadTreeItem(*this, item).text : L"";
}

void Window::Click(int id) const {
  Post(WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), LPARAM(GetDlgItem(hwnd_, id)));
}

void Window::PressKey(UINT vk) const {
  const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC)) << 16;
  Post(WM_KEYDOWN, vk, 1 | scan);
  Post(WM_KEYUP, vk, 1 | scan | (LPARAM{1} << 30) | (LPARAM{1} << 31));
}

LRESULT Window::Send(UINT msg, WPARAM w, LPARAM l) const {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(hwnd_, msg, w, l, SMTO_ABORTIFHUNG, kSendTimeoutMs, &result)) return 0;
  return static_cast<LRESULT>(result);
}

LRESULT Window::SendHidInterfaceChange(WPARAM event, const std::wstring& path) const {
  const size_t bytes =
      offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + (path.size() + 1) * sizeof(wchar_t);
  std::vector<std::byte> record(bytes + sizeof(DEV_BROADCAST_DEVICEINTERFACE_W));
  auto* header = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(record.data());
  header->dbcc_size = static_cast<DWORD>(bytes);
  header->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  header->dbcc_classguid = {
      0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
  std::memcpy(header->dbcc_name, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
  // A device event may block the window for seconds (device searches, fixed waits).
  DWORD_PTR result = 0;
  SendMessageTimeoutW(hwnd_, WM_DEVICECHANGE, event, LPARAM(header), SMTO_NORMAL, 60000, &result);
  return static_cast<LRESULT>(result);
}

bool DialogView::HasText(const std::wstring& text) const {
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}

DialogView ViewDialog(Window dialog) {
  DialogView view{dialog.Text(), {}, {}};
  for (HWND h = GetWindow(dialog.hwnd(), GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT)) {
    const Window child(h);
    if (!IsWindowVisible(h)) continue;
    if (HasClass(child, L"Static") && !child.Text().empty()) view.texts.push_back(child.Text());
    if (HasClass(child, L"Button")) view.buttons.emplace_back(GetDlgCtrlID(h), child.Text());
  }
  return view;
}

std::wstring SaveScreenshot(const std::wstring& name, Window window) {
  RECT r = window.Rect();
  const RECT screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  if (!IntersectRect(&r, &r, &screen)) return {};
  // Windows of other processes reach the screen a little after they paint: take the picture once
  // three captures in a row agree.
  std::vector<std::byte> pixels = CaptureScreen(r);
  for (int i = 0, same = 0; i < 30 && same < 2; ++i) {
    std::this_thread::sleep_for(Millis(200));
    std::vector<std::byte> again = CaptureScreen(r);
    same = again == pixels ? same + 1 : 0;
    pixels = std::move(again);
  }
  wchar_t variable[MAX_PATH] = {};
  std::wstring folder = GetEnvironmentVariableW(L"OBRINT_SCREENSHOTS", variable, MAX_PATH)
                            ? variable
                            : win::Widen(OBRINT_SCREENSHOTS_DEFAULT);
  if (folder.starts_with(L"/")) folder = L"Z:" + folder;  // Wine's drive for the Unix root
  CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring path = folder + L"/" + name + L".bmp";
  const BITMAPINFOHEADER info = PictureHeader(r);
  BITMAPFILEHEADER file{0x4D42, 0, 0, 0, sizeof file + sizeof info};  // "BM"
  file.bfSize = static_cast<DWORD>(file.bfOffBits + pixels.size());
  std::ofstream out(path.c_str(), std::ios::binary);
  out.write(reinterpret_cast<const char*>(&file), sizeof file);
  out.write(reinterpret_cast<const char*>(&info), sizeof info);
  out.write(reinterpret_cast<const char*>(pixels.data()), std::streamsize(pixels.size()));
  return !pixels.empty() && out ? path : L"";
}

Program::Program(const std::wstring& exe) {
  std::wstring commandLine = L"\"" + exe + L"\"";
  const std::wstring folder = exe.substr(0, exe.find_last_of(L"\\/") + 1);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      folder.c_str(), &startup, &info)) {
    Fail("starting " + win::Narrow(exe));
  }
  CloseHandle(info.hThread);
  process_ = info.hProcess;
  pid_ = info.dwProcessId;
}

Program::~Program() {
  if (IsRunning()) {
    TerminateProcess(process_, 1);
    WaitForSingleObject(process_, 10000);
  }
  CloseHandle(process_);
}

bool Program::WaitForExit(Millis timeout) const {
  return WaitForSingleObject(process_, static_cast<DWORD>(timeout.count())) == WAIT_OBJECT_0;
}

Window Program::WaitForWindow(const std::function<bool(const Window&)>& match,
                              Millis timeout) const {
  struct Search {
    DWORD pid;
    const std::function<bool(const Window&)>& match;
    Window found;
  } search{pid_, match, {}};
  return WaitFor(
             [&] {
               // Checked before looking, so that a last window of a program that just ended still
               // counts.
               const bool running = IsRunning();
               search.found = {};
               EnumWindows(
                   [](HWND h, LPARAM l) -> BOOL {
                     auto& s = *reinterpret_cast<Search*>(l);
                     DWORD pid = 0;
                     GetWindowThreadProcessId(h, &pid);
                     if (pid == s.pid && IsWindowVisible(h) && s.match(Window(h)))
                       s.found = Window(h);
                     return !s.found;
                   },
                   LPARAM(&search));
               return search.found || !running ? std::optional(search.found) : std::nullopt;
             },
             timeout)
      .value_or(Window());
}

bool IsDialog(const Window& w) { return HasClass(w, L"#32770"); }
bool IsPopupMenu(const Window& w) { return HasClass(w, L"#32768"); }
bool IsFileDialog(const Window& w) {
  return IsDialog(w) && (w.Child(kFileNameCombo) || w.Child(kFileNameEdit));
}

void ChooseFile(Window fileDialog, const std::wstring& path) {
  Window field = fileDialog.Child(kFileNameCombo) ? fileDialog.Child(kFileNameCombo)
                                                  : fileDialog.Child(kFileNameEdit);
  field.Send(WM_SETTEXT, 0, LPARAM(path.c_str()));
  fileDialog.Click(IDOK);
}

}  // namespace obrint::gui
