// What the GUI driver and its hook DLL (obrint_gui_agent.dll) agree on. Menus belong to the
// process that made them, so the driver asks the hook, running inside the program, to read them.
//
// The driver creates a named shared memory block (AgentBlockName of the program's process ID),
// installs AgentHook as a WH_CALLWNDPROC hook on the window's thread and sends the window the
// AgentQueryMessage with a query kind and a serial number. The hook writes the answer into the
// block and sets the block's serial last, so the driver knows the answer is for its question.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cwchar>
#include <string>

namespace obrint::gui::agent {

inline constexpr wchar_t kQueryMessageName[] = L"ObrintGuiAgent.Query";
inline constexpr char kHookProcName[] = "AgentHook";
inline constexpr wchar_t kDllName[] = L"obrint_gui_agent.dll";
inline constexpr DWORD kBlockBytes = 64 * 1024;

enum Query : WPARAM {
  kSystemMenu = 1,  // the window's system menu (GetSystemMenu without reverting)
  kPaintNow = 2,    // paint what waits to be painted in the window and its controls; no text
};

// One menu item per record: id, type, state and text, separated by kField; records end in kRecord.
inline constexpr wchar_t kField = L'\x1f';
inline constexpr wchar_t kRecord = L'\x1e';

struct Block {
  volatile LONG serial;  // the serial of the query that the text answers
  LONG textLength;       // in wide characters, without the terminating null
  wchar_t text[1];       // kBlockBytes - header bytes, null-terminated
};
inline constexpr size_t kTextCapacity = (kBlockBytes - offsetof(Block, text)) / sizeof(wchar_t);

inline std::wstring BlockName(DWORD processId) {
  return L"Local\\ObrintGuiAgent." + std::to_wstring(processId);
}

}  // namespace obrint::gui::agent
