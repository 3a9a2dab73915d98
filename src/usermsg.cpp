#include "usermsg.h"

#include "presenters/error_text.h"
#include "dlgkit/dlgkit.h"
#include "winbase/handles.h"
#include "winbase/text.h"

std::string SystemErrorText(DWORD code) {
  wchar_t* raw = nullptr;
  const DWORD flags =
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  ::FormatMessageW(flags, nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                   reinterpret_cast<LPWSTR>(&raw), 0, nullptr);
  const obrint::winbase::UniqueLocalMemory message(raw);
  if (!message.valid()) return obrint::presenters::FallbackErrorText(code);
  return obrint::presenters::TrimTrailingLineBreak(obrint::winbase::Narrow(raw));
}

void ShowErrorBox(std::string_view prefix, DWORD code) {
  dlgkit::AppMessageBox(obrint::winbase::Widen(std::string(prefix) + SystemErrorText(code)),
                        MB_OK | MB_ICONEXCLAMATION);
}

void ShowPlainBox(std::string_view text) {
  dlgkit::AppMessageBox(obrint::winbase::Widen(text), MB_OK);
}

void DebugTrace(std::string_view text, std::source_location where) {
  const std::string line = std::string(where.file_name()) + '(' + std::to_string(where.line()) +
                           "): " + std::string(text) + '\n';
  ::OutputDebugStringW(obrint::winbase::Widen(line).c_str());
}
