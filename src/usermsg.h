// How the program tells the user what happened: the Status log, message boxes, and diagnostic
// lines for a debugger. Texts are UTF-8.
#pragma once

#include <windows.h>

#include <source_location>
#include <string>
#include <string_view>

namespace obrint::win {

// The whole content of the Status log (an edit control) becomes `text`.
void ShowStatus(HWND statusLog, std::string_view text);
// `line` is added after the Status log's current content.
void AppendStatus(HWND statusLog, std::string_view line);

// The system's message for an error code without its final line break, or a fallback text when
// the system has none.
std::string SystemErrorText(DWORD code);

// Application message box with an exclamation icon: `prefix` followed directly by the text of
// `code`, which the caller read with GetLastError() right after the failing call.
void ShowErrorBox(std::string_view prefix, DWORD code);
// Application message box with an OK button.
void ShowPlainBox(std::string_view text);
// A message box owned by `owner`; the button the user pressed, 0 when no box could be shown.
int ShowWindowBox(HWND owner, std::string_view body, std::string_view caption, UINT type);

// A diagnostic line on the debugger's output with the caller's source location. The text is
// printed unchanged, '%' included.
void DebugTrace(std::string_view text,
                std::source_location where = std::source_location::current());
// The same for a printf format and its arguments.
void DebugTraceFormat(std::source_location where, const char* format, ...)
    __attribute__((format(gnu_printf, 2, 3)));

}  // namespace obrint::win

// A printf-style diagnostic line at the place of the call.
#define OBRINT_TRACE(...) \
  ::obrint::win::DebugTraceFormat(std::source_location::current(), __VA_ARGS__)
