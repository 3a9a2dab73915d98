#include "driver.h"

#include <commctrl.h>
#include <dbt.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <cwctype>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <type_traits>

#include "agent_protocol.h"

namespace obrint::gui {
namespace {

constexpr UINT kSendTimeoutMs = 5000;
// File dialog fields: the explorer-style file-name combo box, the old-style file-name edit.
constexpr int kFileNameCombo = 0x47C;
constexpr int kFileNameEdit = 0x480;

struct HandleCloser {
  void operator()(HANDLE h) const {
    if (h && h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

struct ViewUnmapper {
  void operator()(void* view) const { UnmapViewOfFile(view); }
};

std::wstring Environment(const wchar_t* name) {
  const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) return {};
  std::wstring value(size, L'\0');
  value.resize(GetEnvironmentVariableW(name, value.data(), size));
  return value;
}

std::wstring ModuleFolder() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path);
  folder.resize(folder.find_last_of(L"\\/") + 1);
  return folder;
}

std::wstring LastErrorText(const char* what) {
  return Widen(what) + L" failed, error " + std::to_wstring(GetLastError());
}

[[noreturn]] void Fail(const std::wstring& message) { throw std::runtime_error(Narrow(message)); }

void CreateFolders(const std::wstring& path) {
  for (size_t i = 3; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == L'\\') CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
  }
}

bool SameClass(const Window& w, const wchar_t* name) {
  return _wcsicmp(w.ClassName().c_str(), name) == 0;
}

bool IsDialog(const Window& w) { return w.IsVisible() && SameClass(w, L"#32770"); }

// Memory inside another process, released with it.
class RemoteMemory {
 public:
  RemoteMemory(DWORD pid, size_t bytes)
      : process_(
            OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid)),
        bytes_(bytes) {
    if (!process_) Fail(LastErrorText("OpenProcess"));
    address_ =
        VirtualAllocEx(process_.get(), nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!address_) Fail(LastErrorText("VirtualAllocEx"));
  }
  ~RemoteMemory() { VirtualFreeEx(process_.get(), address_, 0, MEM_RELEASE); }
  RemoteMemory(const RemoteMemory&) = delete;
  RemoteMemory& operator=(const RemoteMemory&) = delete;

  void* address() const { return address_; }
  void Write(const void* data, size_t bytes) const {
    if (bytes > bytes_ || !WriteProcessMemory(process_.get(), address_, data, bytes, nullptr))
      Fail(LastErrorText("WriteProcessMemory"));
  }
  void Read(void* data, size_t bytes) const {
    if (bytes > bytes_ || !ReadProcessMemory(process_.get(), address_, data, bytes, nullptr))
      Fail(LastErrorText("ReadProcessMemory"));
  }

 private:
  UniqueHandle process_;
  size_t bytes_;
  void* address_ = nullptr;
};

// A tree item and its text buffer, laid out in the target as the tree view expects them.
struct RemoteTreeItem {
  TVITEMW item;
  wchar_t text[512];
};

std::vector<TreeItem> ReadTreeLevel(const Window& tree, const RemoteMemory& remote, HTREEITEM first,
                                    int depth) {
  std::vector<TreeItem> items;
  auto* remoteItem = static_cast<RemoteTreeItem*>(remote.address());
  for (HTREEITEM h = first; h && depth < 32;
       h = reinterpret_cast<HTREEITEM>(
           tree.Send(TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(h)))) {
    RemoteTreeItem local{};
    local.item.mask = TVIF_HANDLE | TVIF_TEXT | TVIF_STATE;
    local.item.hItem = h;
    local.item.stateMask = TVIS_EXPANDED;
    local.item.pszText = remoteItem->text;
    local.item.cchTextMax = static_cast<int>(std::size(local.text));
    remote.Write(&local, sizeof local);
    if (!tree.Send(TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&remoteItem->item)))
      Fail(L"TVM_GETITEMW failed");
    remote.Read(&local, sizeof local);
    local.text[std::size(local.text) - 1] = L'\0';

    TreeItem item;
    item.text = local.text;
    item.expanded = (local.item.state & TVIS_EXPANDED) != 0;
    const auto child = reinterpret_cast<HTREEITEM>(
        tree.Send(TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(h)));
    item.children = ReadTreeLevel(tree, remote, child, depth + 1);
    items.push_back(std::move(item));
  }
  return items;
}

std::vector<std::wstring> Split(const std::wstring& text, wchar_t separator) {
  std::vector<std::wstring> parts;
  size_t start = 0;
  for (size_t end; (end = text.find(separator, start)) != std::wstring::npos; start = end + 1)
    parts.push_back(text.substr(start, end - start));
  if (start < text.size()) parts.push_back(text.substr(start));
  return parts;
}

bool WriteBmp(const std::wstring& path, int width, int height, const void* bits, size_t bytes) {
  BITMAPINFOHEADER info{};
  info.biSize = sizeof info;
  info.biWidth = width;
  info.biHeight = height;  // bottom-up, as most readers expect
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  info.biSizeImage = static_cast<DWORD>(bytes);
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof file + sizeof info;
  file.bfSize = static_cast<DWORD>(file.bfOffBits + bytes);

  std::ofstream out(path.c_str(), std::ios::binary);
  out.write(reinterpret_cast<const char*>(&file), sizeof file);
  out.write(reinterpret_cast<const char*>(&info), sizeof info);
  out.write(static_cast<const char*>(bits), static_cast<std::streamsize>(bytes));
  return static_cast<bool>(out);
}

}  // namespace

// ---- paths and text

std::wstring Widen(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

std::wstring ToWindowsPath(const std::wstring& path) {
  std::wstring out = path;
  for (auto& c : out)
    if (c == L'/') c = L'\\';
  if (!path.empty() && path[0] == L'/') out = L"Z:" + out;
  return out;
}

std::wstring ProgramPath() {
  const std::wstring fromEnvironment = Environment(L"OBRINT_EXE");
  return ToWindowsPath(fromEnvironment.empty() ? Widen(OBRINT_EXE_DEFAULT) : fromEnvironment);
}

std::wstring FixturePath() { return ToWindowsPath(Widen(OBRINT_GUI_FIXTURE_DEFAULT)); }

std::wstring ScreenshotDir() {
  std::wstring dir = Environment(L"OBRINT_SCREENSHOTS");
  if (dir.empty()) dir = Widen(OBRINT_SCREENSHOTS_DEFAULT);
  dir = ToWindowsPath(dir);
  while (dir.size() > 3 && dir.back() == L'\\') dir.pop_back();
  CreateFolders(dir);
  return dir;
}

// ---- Window

std::wstring Window::Text() const {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(hwnd_, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                           &length))
    return {};
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(hwnd_, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                           SMTO_ABORTIFHUNG, kSendTimeoutMs, &copied))
    return {};
  text.resize(wcsnlen(text.c_str(), copied));
  return text;
}

std::wstring Window::ClassName() const {
  wchar_t name[256] = {};
  GetClassNameW(hwnd_, name, static_cast<int>(std::size(name)));
  return name;
}

int Window::Id() const { return GetDlgCtrlID(hwnd_); }

DWORD Window::ProcessId() const {
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd_, &pid);
  return pid;
}

DWORD Window::ThreadId() const { return GetWindowThreadProcessId(hwnd_, nullptr); }

bool Window::IsEnabled() const { return IsWindowEnabled(hwnd_) != FALSE; }

bool Window::IsVisible() const { return IsWindowVisible(hwnd_) != FALSE; }

bool Window::IsChecked() const { return Send(BM_GETCHECK, 0, 0) == BST_CHECKED; }

RECT Window::Rect() const {
  RECT r{};
  GetWindowRect(hwnd_, &r);
  return r;
}

LONG Window::Style() const { return GetWindowLongW(hwnd_, GWL_STYLE); }

Window Window::Child(int id) const { return Window(GetDlgItem(hwnd_, id)); }

std::vector<Window> Window::Children() const {
  std::vector<Window> children;
  for (HWND h = GetWindow(hwnd_, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT))
    children.emplace_back(h);
  return children;
}

std::vector<TreeItem> Window::TreeItems() const {
  RemoteMemory remote(ProcessId(), sizeof(RemoteTreeItem));
  const auto root = reinterpret_cast<HTREEITEM>(Send(TVM_GETNEXTITEM, TVGN_ROOT, 0));
  return ReadTreeLevel(*this, remote, root, 0);
}

void Window::ClickButton(int id) const {
  PostMessageW(hwnd_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(hwnd_, id)));
}

void Window::PostCommand(WORD id) const { PostMessageW(hwnd_, WM_COMMAND, MAKEWPARAM(id, 0), 0); }

void Window::PostSysCommand(WPARAM command) const {
  PostMessageW(hwnd_, WM_SYSCOMMAND, command, 0);
}

void Window::PressKey(UINT vk) const {
  const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC)) << 16;
  PostMessageW(hwnd_, WM_KEYDOWN, vk, 1 | scan);
  PostMessageW(hwnd_, WM_KEYUP, vk, 1 | scan | (LPARAM{1} << 30) | (LPARAM{1} << 31));
}

void Window::FocusChild(int id) const {
  Send(WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(hwnd_, id)), TRUE);
}

Window Window::FocusedControl() const {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(ThreadId(), &info)) return {};
  return Window(info.hwndFocus);
}

LRESULT Window::Send(UINT msg, WPARAM w, LPARAM l) const {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(hwnd_, msg, w, l, SMTO_ABORTIFHUNG, kSendTimeoutMs, &result)) return 0;
  return static_cast<LRESULT>(result);
}

bool Window::Settle() const {
  DWORD_PTR result = 0;
  return SendMessageTimeoutW(hwnd_, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &result) != 0;
}

LRESULT Window::SendDeviceInterfaceChange(WPARAM event, const std::wstring& path,
                                          const GUID& interfaceClass) const {
  const size_t bytes =
      offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + (path.size() + 1) * sizeof(wchar_t);
  std::vector<std::byte> record(std::max(bytes, sizeof(DEV_BROADCAST_DEVICEINTERFACE_W)));
  auto* header = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(record.data());
  header->dbcc_size = static_cast<DWORD>(bytes);
  header->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  header->dbcc_classguid = interfaceClass;
  std::memcpy(header->dbcc_name, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
  // A device event may block the window for seconds (device searches, fixed waits).
  DWORD_PTR result = 0;
  SendMessageTimeoutW(hwnd_, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(header), SMTO_NORMAL,
                      60000, &result);
  return static_cast<LRESULT>(result);
}

std::future<LRESULT> Window::SendDeviceInterfaceChangeAsync(WPARAM event, std::wstring path,
                                                            GUID interfaceClass) const {
  return std::async(std::launch::async,
                    [window = *this, event, path = std::move(path), interfaceClass] {
                      return window.SendDeviceInterfaceChange(event, path, interfaceClass);
                    });
}

// ---- dialogs

bool DialogView::HasText(const std::wstring& text) const {
  for (const auto& t : texts)
    if (t == text) return true;
  return false;
}

DialogView ViewDialog(Window dialog) {
  DialogView view;
  view.window = dialog;
  view.caption = dialog.Text();
  for (const Window& child : dialog.Children()) {
    if (!child.IsVisible()) continue;
    if (SameClass(child, L"Static")) {
      std::wstring text = child.Text();
      if (!text.empty()) view.texts.push_back(std::move(text));
    } else if (SameClass(child, L"Button")) {
      view.buttons.push_back({child.Id(), child.Text()});
    }
  }
  return view;
}

void PressButton(Window dialog, int id) { dialog.ClickButton(id); }

// ---- screenshots

namespace {

// The screen's pixels in `r` as a bottom-up 24-bit DIB; empty on failure.
std::vector<std::byte> CaptureScreen(const RECT& r) {
  const int width = r.right - r.left;
  const int height = r.bottom - r.top;
  std::vector<std::byte> pixels;
  HDC screenDc = GetDC(nullptr);
  HDC memoryDc = CreateCompatibleDC(screenDc);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screenDc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap && bits) {
    HGDIOBJ old = SelectObject(memoryDc, bitmap);
    if (BitBlt(memoryDc, 0, 0, width, height, screenDc, r.left, r.top, SRCCOPY | CAPTUREBLT)) {
      GdiFlush();
      const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
      const auto* first = static_cast<const std::byte*>(bits);
      pixels.assign(first, first + stride * static_cast<size_t>(height));
    }
    SelectObject(memoryDc, old);
  }
  if (bitmap) DeleteObject(bitmap);
  DeleteDC(memoryDc);
  ReleaseDC(nullptr, screenDc);
  return pixels;
}

}  // namespace

std::wstring SaveScreenshot(const std::wstring& name, std::optional<RECT> area) {
  RECT screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  RECT r = area.value_or(screen);
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
  if (pixels.empty()) return {};
  const std::wstring file = ScreenshotDir() + L"\\" + name + L".bmp";
  return WriteBmp(file, r.right - r.left, r.bottom - r.top, pixels.data(), pixels.size())
             ? file
             : std::wstring();
}

std::wstring SaveScreenshot(const std::wstring& name, Window window) {
  // Painting is done by the window's own thread: asked from outside, Wine hands the pending paint
  // to the asker and the controls stay blank.
  PaintNow(window);
  return SaveScreenshot(name, window.Rect());
}

// ---- Program

Program::Program(const std::wstring& exe, const std::wstring& arguments) {
  std::wstring commandLine = L"\"" + exe + L"\"";
  if (!arguments.empty()) commandLine += L" " + arguments;
  std::wstring folder = exe.substr(0, exe.find_last_of(L"\\/") + 1);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      folder.empty() ? nullptr : folder.c_str(), &startup, &info))
    Fail(LastErrorText("CreateProcessW") + L" for " + exe);
  CloseHandle(info.hThread);
  process_ = info.hProcess;
  pid_ = info.dwProcessId;
}

Program::~Program() {
  Kill();
  CloseHandle(process_);
}

bool Program::IsRunning() const { return WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }

bool Program::WaitForExit(Millis timeout) const {
  return WaitForSingleObject(process_, static_cast<DWORD>(timeout.count())) == WAIT_OBJECT_0;
}

std::optional<DWORD> Program::ExitCode() const {
  DWORD code = 0;
  if (IsRunning() || !GetExitCodeProcess(process_, &code)) return std::nullopt;
  return code;
}

void Program::Kill() {
  if (IsRunning()) {
    TerminateProcess(process_, 1);
    WaitForSingleObject(process_, 10000);
  }
}

namespace {
struct WindowSearch {
  DWORD pid;
  std::vector<Window> found;
};

BOOL CALLBACK CollectVisibleWindow(HWND h, LPARAM l) {
  auto* search = reinterpret_cast<WindowSearch*>(l);
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  if (pid == search->pid && IsWindowVisible(h)) search->found.emplace_back(h);
  return TRUE;
}
}  // namespace

// Like WaitFor, but gives up as soon as the program has ended: its windows cannot come any more.
template <typename Probe>
Window Program::WaitWhileRunning(Probe probe, Millis timeout) const {
  const auto end = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const bool running = IsRunning();  // before looking, so that a last window still counts
    const Window found = probe();
    if (found || !running || std::chrono::steady_clock::now() >= end) return found;
    std::this_thread::sleep_for(Millis(50));
  }
}

std::vector<Window> Program::TopLevelWindows() const {
  WindowSearch search{pid_, {}};
  EnumWindows(CollectVisibleWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

Window Program::WaitForMainWindow(Millis timeout) const {
  return WaitWhileRunning(
      [this]() -> Window {
        for (const Window& w : TopLevelWindows()) {
          if (IsDialog(w) && SameClass(w.Child(1000), WC_TREEVIEWW)) return w;
        }
        return {};
      },
      timeout);
}

Window Program::WaitForDialog(const std::wstring& caption, Millis timeout, Window except) const {
  return WaitWhileRunning(
      [&]() -> Window {
        for (const Window& w : TopLevelWindows()) {
          if (w.hwnd() != except.hwnd() && IsDialog(w) && w.Text() == caption) return w;
        }
        return {};
      },
      timeout);
}

Window Program::WaitForOtherDialog(Window except, Millis timeout) const {
  return WaitWhileRunning(
      [&]() -> Window {
        for (const Window& w : TopLevelWindows()) {
          if (w.hwnd() != except.hwnd() && IsDialog(w)) return w;
        }
        return {};
      },
      timeout);
}

Window Program::WaitForFileDialog(Millis timeout) const {
  return WaitWhileRunning(
      [this]() -> Window {
        for (const Window& w : TopLevelWindows()) {
          if (IsDialog(w) && (w.Child(kFileNameCombo) || w.Child(kFileNameEdit))) return w;
        }
        return {};
      },
      timeout);
}

void Program::ChooseFile(Window fileDialog, const std::wstring& path) {
  Window field = fileDialog.Child(kFileNameCombo);
  if (!field) field = fileDialog.Child(kFileNameEdit);
  if (!field) Fail(L"the file dialog has no file-name field");
  field.Send(WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
  fileDialog.ClickButton(IDOK);
}

std::vector<MenuItem> Program::SystemMenu(Window window) const { return SystemMenuItems(window); }

// ---- questions to the hook DLL inside the program

std::wstring AskAgent(Window window, WPARAM query) {
  using namespace agent;
  static HMODULE module = [] {
    std::wstring dll = Environment(L"OBRINT_GUI_AGENT");
    return LoadLibraryW((dll.empty() ? ModuleFolder() + kDllName : ToWindowsPath(dll)).c_str());
  }();
  if (!module) Fail(LastErrorText("LoadLibraryW(obrint_gui_agent.dll)"));
  auto hook =
      reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(module, kHookProcName)));
  if (!hook) Fail(LastErrorText("GetProcAddress(AgentHook)"));

  UniqueHandle mapping(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                          kBlockBytes, BlockName(window.ProcessId()).c_str()));
  if (!mapping) Fail(LastErrorText("CreateFileMappingW"));
  std::unique_ptr<void, ViewUnmapper> view(
      MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
  if (!view) Fail(LastErrorText("MapViewOfFile"));
  auto* block = static_cast<Block*>(view.get());

  static LONG serial = 0;
  const LONG mine = ++serial;
  block->serial = 0;
  struct Unhook {
    void operator()(HHOOK h) const { UnhookWindowsHookEx(h); }
  };
  std::unique_ptr<std::remove_pointer_t<HHOOK>, Unhook> installed(
      SetWindowsHookExW(WH_CALLWNDPROC, hook, module, window.ThreadId()));
  if (!installed) Fail(LastErrorText("SetWindowsHookExW"));
  window.Send(RegisterWindowMessageW(kQueryMessageName), query, mine);
  if (InterlockedCompareExchange(&block->serial, 0, 0) != mine)
    Fail(L"the program did not answer the driver's query " + std::to_wstring(query));
  return std::wstring(block->text, static_cast<size_t>(block->textLength));
}

std::vector<MenuItem> SystemMenuItems(Window window) {
  using namespace agent;
  std::vector<MenuItem> items;
  for (const std::wstring& record : Split(AskAgent(window, kSystemMenu), kRecord)) {
    const auto fields = Split(record, kField);
    if (fields.size() < 3) continue;
    MenuItem item;
    item.id = static_cast<UINT>(std::stoul(fields[0]));
    item.type = static_cast<UINT>(std::stoul(fields[1]));
    item.state = static_cast<UINT>(std::stoul(fields[2]));
    if (fields.size() > 3) item.text = fields[3];
    items.push_back(std::move(item));
  }
  return items;
}

void PaintNow(Window window) { AskAgent(window, agent::kPaintNow); }

}  // namespace obrint::gui
