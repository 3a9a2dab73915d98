// A small program for the driver's own tests: it shows what it received in its edit control
// (1001), so a test can check that the driver's messages arrive as sent.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <dbt.h>
#include <objbase.h>

#include <string>

namespace {

constexpr int kTree = 1000, kLog = 1001, kBoxButton = 1002, kOpenButton = 1003, kCheck = 1004;
constexpr UINT kFixtureMenuEntry = 0x20;

HTREEITEM AddItem(HWND tree, HTREEITEM parent, const wchar_t* text) {
  TVINSERTSTRUCTW insert{};
  insert.hParent = parent;
  insert.hInsertAfter = TVI_LAST;
  insert.item.mask = TVIF_TEXT;
  insert.item.pszText = const_cast<wchar_t*>(text);
  return reinterpret_cast<HTREEITEM>(
      SendMessageW(tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
}

void Log(HWND dialog, const std::wstring& text) { SetDlgItemTextW(dialog, kLog, text.c_str()); }

void Initialise(HWND dialog) {
  HMENU system = GetSystemMenu(dialog, FALSE);
  AppendMenuW(system, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(system, MF_STRING, kFixtureMenuEntry, L"&Fixture entry");

  HWND tree = GetDlgItem(dialog, kTree);
  HTREEITEM root = AddItem(tree, TVI_ROOT, L"根");
  HTREEITEM first = AddItem(tree, root, L"甲");
  AddItem(tree, first, L"甲一");
  HTREEITEM second = AddItem(tree, root, L"乙");
  AddItem(tree, second, L"乙一");
  SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(root));
  SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(first));
  CheckDlgButton(dialog, kCheck, BST_CHECKED);
}

void ChooseFile(HWND dialog) {
  char file[MAX_PATH] = {};
  OPENFILENAMEA ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = dialog;
  ofn.lpstrFilter = "bin\0*.bin\0All\0*.*\0";
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = file;
  ofn.nMaxFile = MAX_PATH;
  ofn.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
  if (!GetOpenFileNameA(&ofn)) {
    Log(dialog, L"open cancelled");
    return;
  }
  wchar_t wide[MAX_PATH] = {};
  MultiByteToWideChar(CP_ACP, 0, file, -1, wide, MAX_PATH);
  Log(dialog, std::wstring(L"open ") + wide);
}

// A query for removal is put to the user, so that a test sees a box opened inside a device event;
// the window's answer is the button pressed. Other events are answered TRUE.
LRESULT DeviceChange(HWND dialog, WPARAM event, LPARAM data) {
  if (event == DBT_DEVICEQUERYREMOVE) return MessageBoxW(dialog, L"允许移除？", L"设备", MB_YESNO);
  std::wstring text = L"device " + std::to_wstring(event);
  const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
  if (header && header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
    const auto* record = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(data);
    wchar_t guid[40] = {};
    StringFromGUID2(record->dbcc_classguid, guid, 40);
    text += L" " + std::to_wstring(record->dbcc_size) + L" " + guid + L" " + record->dbcc_name;
  }
  Log(dialog, text);
  return TRUE;
}

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM w, LPARAM l) {
  switch (message) {
    case WM_INITDIALOG:
      Initialise(dialog);
      return TRUE;
    case WM_DEVICECHANGE:
      SetWindowLongPtrW(dialog, DWLP_MSGRESULT, DeviceChange(dialog, w, l));
      return TRUE;
    case WM_SYSCOMMAND:
      if ((w & 0xFFF0) == kFixtureMenuEntry) {
        Log(dialog, L"fixture entry");
        return TRUE;
      }
      return FALSE;
    case WM_COMMAND:
      switch (LOWORD(w)) {
        case IDOK:
        case IDCANCEL:
          EndDialog(dialog, LOWORD(w));
          return TRUE;
        case kBoxButton:
          Log(dialog, L"box " + std::to_wstring(MessageBoxW(dialog, L"正文", L"标题",
                                                            MB_YESNO | MB_ICONQUESTION)));
          return TRUE;
        case kOpenButton:
          ChooseFile(dialog);
          return TRUE;
      }
      return FALSE;
  }
  return FALSE;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  InitCommonControls();
  // The end code tells the test which way the dialog ended.
  return static_cast<int>(DialogBoxParamW(instance, MAKEINTRESOURCEW(200), nullptr, DialogProc, 0));
}
