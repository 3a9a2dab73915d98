#include "driver.h"

#include <commctrl.h>
#include <dbt.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <memory>
#include <stdexcept>

#include "winbase/text.h"

namespace obrint::gui {
namespace {

bool HasClass(const Window& w, const wchar_t* name) {
  wchar_t text[64] = {};
  GetClassNameW(w.hwnd(), text, 64);
  return _wcsicmp(text, name) == 0;
}

// One tree item as the tree view fills it in, in the program's memory.
struct RemoteTreeItem {
  TVITEMW item;
  wchar_t text[512];
};

// The screen's pixels in `r` as a bottom-up 24-bit picture.
std::vector<std::byte> CaptureScreen(const RECT& r, BITMAPINFO& info) {
  info.bmiHeader = {
      sizeof info.bmiHeader, r.right - r.left, r.bottom - r.top, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  std::vector<std::byte> pixels(((info.bmiHeader.biWidth * 3 + 3) & ~3) *
                                static_cast<size_t>(info.bmiHeader.biHeight));
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, info.bmiHeader.biWidth, info.bmiHeader.biHeight);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, info.bmiHeader.biWidth, info.bmiHeader.biHeight, screen, r.left, r.top,
         SRCCOPY);
  SelectObject(memory, old);
  GetDIBits(memory, bitmap, 0, info.bmiHeader.biHeight, pixels.data(), &info, DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return pixels;
}

}  // namespace

std::wstring Window::Text() const {
  std::wstring text(static_cast<size_t>(Send(WM_GETTEXTLENGTH, 0, 0)) + 1, L'\0');
  text.resize(static_cast<size_t>(Send(WM_GETTEXT, text.size(), LPARAM(text.data()))));
  return text;
}

RECT Window::Rect() const {
  RECT r{};
  GetWindowRect(hwnd_, &r);
  return r;
}

std::vector<TreeRow> Window::TreeRows() const {
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd_, &pid);
  const std::unique_ptr<void, decltype(&CloseHandle)> process(
      OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid),
      &CloseHandle);
  const auto release = [&](void* p) { VirtualFreeEx(process.get(), p, 0, MEM_RELEASE); };
  const std::unique_ptr<RemoteTreeItem, decltype(release)> remote(
      static_cast<RemoteTreeItem*>(VirtualAllocEx(process.get(), nullptr, sizeof(RemoteTreeItem),
                                                  MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)),
      release);
  std::vector<TreeRow> rows;
  const auto addRows = [&](const auto& self, HTREEITEM first, int level) -> void {
    for (HTREEITEM h = first; h; h = HTREEITEM(Send(TVM_GETNEXTITEM, TVGN_NEXT, LPARAM(h)))) {
      RemoteTreeItem local{};
      local.item = {
          TVIF_HANDLE | TVIF_TEXT | TVIF_STATE, h, 0, TVIS_EXPANDED, remote->text, 511, 0, 0, 0, 0};
      if (!WriteProcessMemory(process.get(), remote.get(), &local, sizeof local, nullptr) ||
          !Send(TVM_GETITEMW, 0, LPARAM(remote.get())) ||
          !ReadProcessMemory(process.get(), remote.get(), &local, sizeof local, nullptr)) {
        throw std::runtime_error("a tree item cannot be read, error " +
                                 std::to_string(GetLastError()));
      }
      rows.push_back({level, local.text, (local.item.state & TVIS_EXPANDED) != 0});
      self(self, HTREEITEM(Send(TVM_GETNEXTITEM, TVGN_CHILD, LPARAM(h))), level + 1);
    }
  };
  if (!remote) throw std::runtime_error("no memory in the program for reading its tree");
  addRows(addRows, HTREEITEM(Send(TVM_GETNEXTITEM, TVGN_ROOT, 0)), 0);
  return rows;
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
  SendMessageTimeoutW(hwnd_, msg, w, l, SMTO_ABORTIFHUNG, 5000, &result);
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

std::vector<std::wstring> Window::ChildTexts() const {
  std::vector<std::wstring> texts;
  for (HWND h = GetWindow(hwnd_, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT)) {
    if (IsWindowVisible(h) && !Window(h).Text().empty()) texts.push_back(Window(h).Text());
  }
  return texts;
}

bool IsDialog(const Window& w) { return HasClass(w, L"#32770"); }
bool IsPopupMenu(const Window& w) { return HasClass(w, L"#32768"); }
void SaveScreenshot(const std::wstring& name, Window window) {
  const RECT r = window.Rect();
  // Windows of other processes reach the screen a little after they paint, when their thread
  // next wakes: wake it, and take the picture once three captures in a row agree.
  BITMAPINFO info;
  std::vector<std::byte> pixels;
  for (int i = 0, same = 0; i < 30 && same < 3; ++i) {
    window.Send(WM_NULL, 0, 0);
    std::this_thread::sleep_for(Millis(200));
    std::vector<std::byte> again = CaptureScreen(r, info);
    same = again == pixels ? same + 1 : 1;
    pixels = std::move(again);
  }
  wchar_t variable[MAX_PATH] = {};
  std::wstring folder = GetEnvironmentVariableW(L"OBRINT_SCREENSHOTS", variable, MAX_PATH)
                            ? variable
                            : winbase::Widen(OBRINT_SCREENSHOTS_DEFAULT);
  if (folder.starts_with(L"/")) folder = L"Z:" + folder;  // Wine's drive for the Unix root
  CreateDirectoryW(folder.c_str(), nullptr);
  BITMAPFILEHEADER file{0x4D42, 0, 0, 0, sizeof file + sizeof info.bmiHeader};  // "BM"
  file.bfSize = static_cast<DWORD>(file.bfOffBits + pixels.size());
  std::ofstream out((folder + L"/" + name + L".bmp").c_str(), std::ios::binary);
  out.write(reinterpret_cast<const char*>(&file), sizeof file);
  out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
  out.write(reinterpret_cast<const char*>(pixels.data()), std::streamsize(pixels.size()));
}

Program::Program(const std::wstring& exe) {
  std::wstring commandLine = L"\"" + exe + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      exe.substr(0, exe.find_last_of(L"\\/")).c_str(), &startup, &info)) {
    throw std::runtime_error("cannot start " + winbase::Narrow(exe));
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

Window Program::WaitForWindow(const std::function<bool(const Window&)>& match,
                              Millis timeout) const {
  return WaitFor(
      [&] {
        for (HWND h = nullptr; (h = FindWindowExW(nullptr, h, nullptr, nullptr)) != nullptr;) {
          DWORD pid = 0;
          GetWindowThreadProcessId(h, &pid);
          if (pid == pid_ && IsWindowVisible(h) && match(Window(h))) return Window(h);
        }
        return Window();
      },
      timeout);
}

}  // namespace obrint::gui
