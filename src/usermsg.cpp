#include "usermsg.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "core/error_text.h"
#include "dlgkit/dlgkit.h"
#include "winbase/handles.h"
#include "winbase/text.h"

namespace obrint::win {

namespace {

void WriteTrace(std::source_location where, std::string_view text) {
  std::string line = where.file_name();
  line += '(';
  line += std::to_string(where.line());
  line += "): ";
  line += text;
  line += '\n';
  ::OutputDebugStringW(winbase::Widen(line).c_str());
}

}  // namespace

void ShowStatus(HWND statusLog, std::string_view text) {
  ::SetWindowTextW(statusLog, winbase::Widen(text).c_str());
}

void AppendStatus(HWND statusLog, std::string_view line) {
  const int length = ::GetWindowTextLengthW(statusLog);
  std::wstring content(static_cast<std::size_t>(length > 0 ? length : 0) + 1, L'\0');
  const int copied = ::GetWindowTextW(statusLog, content.data(), length + 1);
  content.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
  content += winbase::Widen(line);
  ::SetWindowTextW(statusLog, content.c_str());
}

std::string SystemErrorText(DWORD code) {
  wchar_t* raw = nullptr;
  const DWORD flags =
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  ::FormatMessageW(flags, nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                   reinterpret_cast<LPWSTR>(&raw), 0, nullptr);
  const winbase::UniqueLocalMemory message(raw);
  if (!message.valid()) return FallbackErrorText(code);
  return TrimTrailingLineBreak(winbase::Narrow(raw));
}

void ShowErrorBox(std::string_view prefix, DWORD code) {
  std::string text(prefix);
  text += SystemErrorText(code);
  dlgkit::AppMessageBox(winbase::Widen(text), MB_OK | MB_ICONEXCLAMATION);
}

void ShowPlainBox(std::string_view text) { dlgkit::AppMessageBox(winbase::Widen(text), MB_OK); }

int ShowWindowBox(HWND owner, std::string_view body, std::string_view caption, UINT type) {
  return ::MessageBoxW(owner, winbase::Widen(body).c_str(), winbase::Widen(caption).c_str(), type);
}

void DebugTrace(std::string_view text, std::source_location where) { WriteTrace(where, text); }

void DebugTraceFormat(std::source_location where, const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list measure;
  va_copy(measure, args);
  const int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  std::vector<char> text(length > 0 ? static_cast<std::size_t>(length) + 1 : 1, '\0');
  if (length > 0) std::vsnprintf(text.data(), text.size(), format, args);
  va_end(args);
  WriteTrace(where, text.data());
}

}  // namespace obrint::win
