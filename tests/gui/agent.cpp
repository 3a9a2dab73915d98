// The driver's hook DLL: loaded into the program under test through a WH_CALLWNDPROC hook, it
// answers the driver's questions about things only the program's own process can read.
#include <windows.h>

#include <string>

#include "agent_protocol.h"

namespace {

using namespace obrint::gui::agent;

std::wstring DescribeMenu(HMENU menu) {
  std::wstring out;
  const int count = GetMenuItemCount(menu);
  for (int i = 0; i < count; ++i) {
    wchar_t text[256] = {};
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_ID | MIIM_STRING;
    info.dwTypeData = text;
    info.cch = static_cast<UINT>(std::size(text) - 1);
    if (!GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info)) continue;
    out += std::to_wstring(info.wID) + kField + std::to_wstring(info.fType) + kField +
           std::to_wstring(info.fState) + kField + text + kRecord;
  }
  return out;
}

void Answer(LONG serial, const std::wstring& text) {
  const std::wstring name = BlockName(GetCurrentProcessId());
  HANDLE mapping = OpenFileMappingW(FILE_MAP_WRITE, FALSE, name.c_str());
  if (!mapping) return;
  if (auto* block = static_cast<Block*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0))) {
    const size_t length = text.size() < kTextCapacity ? text.size() : kTextCapacity - 1;
    text.copy(block->text, length);
    block->text[length] = L'\0';
    block->textLength = static_cast<LONG>(length);
    InterlockedExchange(&block->serial, serial);
    UnmapViewOfFile(block);
  }
  CloseHandle(mapping);
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK
    AgentHook(int code, WPARAM wParam, LPARAM lParam) {
  static const UINT query = RegisterWindowMessageW(kQueryMessageName);
  if (code == HC_ACTION) {
    const auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (call->message == query) {
      const auto serial = static_cast<LONG>(call->lParam);
      switch (call->wParam) {
        case kSystemMenu:
          Answer(serial, DescribeMenu(GetSystemMenu(call->hwnd, FALSE)));
          break;
        case kPaintNow:
          RedrawWindow(call->hwnd, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
          Answer(serial, {});
          break;
      }
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}
